#include "SpscMessageRing.h"

#include <algorithm>

namespace movrin {

bool SpscMessageRing::Push(std::uint64_t sequence, std::span<const std::uint8_t> message) {
  const std::size_t head = head_.load(std::memory_order_relaxed);
  const std::size_t tail = tail_.load(std::memory_order_acquire);
  const std::size_t needed = sizeof(Record) + message.size();
  if (bytes_.size() - (head - tail) < needed) {
    return false;
  }
  const Record record{sequence, static_cast<std::uint32_t>(message.size())};
  CopyIn(head, &record, sizeof record);
  CopyIn(head + sizeof record, message.data(), message.size());
  head_.store(head + needed, std::memory_order_release);
  return true;
}

std::optional<SpscMessageRing::Record> SpscMessageRing::Peek() const {
  const std::size_t tail = tail_.load(std::memory_order_relaxed);
  if (head_.load(std::memory_order_acquire) == tail) {
    return std::nullopt;
  }
  Record record{};
  CopyOut(tail, &record, sizeof record);
  return record;
}

void SpscMessageRing::CopyMessage(const Record& record, std::uint8_t* to) const {
  CopyOut(tail_.load(std::memory_order_relaxed) + sizeof record, to, record.size);
}

void SpscMessageRing::Pop(const Record& record) {
  const std::size_t tail = tail_.load(std::memory_order_relaxed);
  tail_.store(tail + sizeof record + record.size, std::memory_order_release);
}

void SpscMessageRing::CopyIn(std::size_t at, const void* from, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(from);
  const std::size_t offset = at % bytes_.size();
  const std::size_t first = std::min(size, bytes_.size() - offset);
  std::copy_n(in, first, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  std::copy_n(in + first, size - first, bytes_.begin());
}

void SpscMessageRing::CopyOut(std::size_t from, void* to, std::size_t size) const {
  auto* out = static_cast<std::uint8_t*>(to);
  const std::size_t offset = from % bytes_.size();
  const std::size_t first = std::min(size, bytes_.size() - offset);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), first, out);
  std::copy_n(bytes_.begin(), size - first, out + first);
}

}  // namespace movrin
