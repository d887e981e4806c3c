#pragma once

// A single-producer, single-consumer ring of whole messages, each with its sequence number: the
// lock-free queue between a JACK process callback and one thread of ours. The indices count
// bytes ever written and read; a record becomes visible with one release store, so the
// callback neither locks nor allocates.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace movrin {

class SpscMessageRing {
 public:
  struct Record {
    std::uint64_t sequence;
    std::uint32_t size;
  };

  explicit SpscMessageRing(std::size_t bytes) : bytes_(bytes) {}

  // Producer side: false when the record does not fit now.
  [[nodiscard]] bool Push(std::uint64_t sequence, std::span<const std::uint8_t> message);

  // Consumer side: the oldest record, its message, and letting go of it.
  [[nodiscard]] std::optional<Record> Peek() const;
  void CopyMessage(const Record& record, std::uint8_t* to) const;
  void Pop(const Record& record);

  [[nodiscard]] std::size_t capacity() const { return bytes_.size(); }

 private:
  void CopyIn(std::size_t at, const void* from, std::size_t size);
  void CopyOut(std::size_t from, void* to, std::size_t size) const;

  std::vector<std::uint8_t> bytes_;
  std::atomic<std::size_t> head_{0};
  std::atomic<std::size_t> tail_{0};
};

}  // namespace movrin
