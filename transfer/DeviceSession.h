#pragma once

// The device side of the update protocol, without ports: each incoming message goes in, the
// replies to send come out, and after the last block the verdict on the received image.
// Malformed input is reported and abandons the transfer; it never ends the session.
//
//   announce -> ready note, request note; block k -> request note ... last block -> verdict

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "NoiseSource.h"

namespace movrin {

class DeviceSession {
 public:
  struct Options {
    bool duplicateReady = false;                // the ready note twice
    bool earlyRequest = false;                  // a request note before the ready note
    std::optional<std::int64_t> silentAfter{};  // no reply at all once this block arrived
    std::optional<std::int64_t> closeAfter{};   // ask for the ports to be closed after this block
    bool noise = false;                         // stray messages before every reply
    std::uint32_t seed = 1;
    std::optional<std::vector<std::uint8_t>> expected{};  // the image that should arrive
  };

  enum class State { Idle, Receiving, Silent, Closed };

  enum class Problem {
    None,
    BadMessage,  // a System Exclusive message that is not a well-formed update message
    BlockWithoutAnnounce,
    EmptyAnnounce,  // an announce of 0 blocks
    OutOfOrder,
    WrongLength,  // a block other than the last that is not a full block
    BadPacking,   // the received data does not unpack
  };

  struct Verdict {
    std::vector<std::uint8_t> image;
    std::int64_t blocks = 0;
    std::uint32_t crc32 = 0;
    std::optional<bool> identical;    // when an image was expected
    std::size_t firstDifference = 0;  // when not identical
    std::size_t expectedLength = 0;
    std::uint32_t expectedCrc32 = 0;
  };

  struct Output {
    std::vector<std::vector<std::uint8_t>> replies;  // to send in this order
    Problem problem = Problem::None;
    std::string text;                // one line: the problem, or a remark such as a restart
    std::optional<Verdict> verdict;  // after the last block
    bool closePorts = false;

    // Whether a transfer ended with this message, well or badly.
    [[nodiscard]] bool ended() const { return verdict.has_value() || problem != Problem::None; }
  };

  explicit DeviceSession(Options options);

  [[nodiscard]] Output OnMessage(std::span<const std::uint8_t> message);

  [[nodiscard]] State state() const { return state_; }
  [[nodiscard]] std::int64_t blocksReceived() const { return nextBlock_; }

 private:
  void Reply(Output& out, std::uint32_t note);
  Output Fail(Output out, Problem problem, std::string text);
  Output OnAnnounce(std::uint16_t count);
  Output OnBlock(std::uint16_t index, std::span<const std::uint8_t> payload);
  Verdict Judge(std::vector<std::uint8_t> image) const;

  Options options_;
  NoiseSource noise_;
  State state_ = State::Idle;
  std::int64_t blockCount_ = 0;
  std::int64_t nextBlock_ = 0;
  bool readySent_ = false;
  std::vector<std::uint8_t> packed_;
};

// The one verdict line; `expectedName` names the --expect file when there is one.
[[nodiscard]] std::string FormatVerdict(const DeviceSession::Verdict& verdict,
                                        const std::string& expectedName);

}  // namespace movrin
