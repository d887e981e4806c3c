#include "DeviceSession.h"

#include <algorithm>

#include "Crc32.h"
#include "Hex32.h"
#include "Packing.h"
#include "Protocol.h"
#include "UpdateMessages.h"

namespace movrin {

DeviceSession::DeviceSession(Options options)
    : options_(std::move(options)), noise_(options_.seed) {}

void DeviceSession::Reply(Output& out, std::uint32_t note) {
  if (options_.noise) {
    for (auto& stray : noise_.Burst(readySent_)) {
      out.replies.push_back(std::move(stray));
    }
  }
  out.replies.push_back({static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(note >> 8),
                         static_cast<std::uint8_t>(note >> 16)});
  if (note == ReadyNote) {
    readySent_ = true;
  }
}

DeviceSession::Output DeviceSession::Fail(Output out, Problem problem, std::string text) {
  out.problem = problem;
  out.text = std::move(text);
  state_ = State::Idle;
  packed_.clear();
  return out;
}

DeviceSession::Output DeviceSession::OnMessage(std::span<const std::uint8_t> message) {
  if (state_ == State::Silent || state_ == State::Closed) {
    return {};
  }
  // Channel and real-time messages are other traffic, not ours to judge.
  if (message.empty() || message[0] != kSysExStart) {
    return {};
  }
  const ParsedMessage parsed = ParseUpdateMessage(message);
  if (!parsed.ok()) {
    std::string where = state_ == State::Receiving
                            ? " while expecting block " + std::to_string(nextBlock_) + " of " +
                                  std::to_string(blockCount_)
                            : "";
    return Fail({}, Problem::BadMessage,
                "malformed message of " + std::to_string(message.size()) + " bytes" + where + ": " +
                    Describe(parsed.error));
  }
  if (parsed.kind == MessageKind::Announce) {
    return OnAnnounce(parsed.value);
  }
  return OnBlock(parsed.value, parsed.payload);
}

DeviceSession::Output DeviceSession::OnAnnounce(std::uint16_t count) {
  Output out;
  if (state_ == State::Receiving) {
    out.text = "new announce after block " + std::to_string(nextBlock_) + " of " +
               std::to_string(blockCount_) + "; starting over";
  }
  state_ = State::Idle;
  packed_.clear();
  if (count == 0) {
    return Fail(std::move(out), Problem::EmptyAnnounce, "announce of 0 blocks: nothing to receive");
  }
  blockCount_ = count;
  nextBlock_ = 0;
  readySent_ = false;
  packed_.reserve(static_cast<std::size_t>(count) * UPDATE_BLOCK_SIZE);
  state_ = State::Receiving;
  if (options_.earlyRequest) {
    Reply(out, NextNote);
  }
  Reply(out, ReadyNote);
  if (options_.duplicateReady) {
    Reply(out, ReadyNote);
  }
  Reply(out, NextNote);
  return out;
}

DeviceSession::Output DeviceSession::OnBlock(std::uint16_t index,
                                             std::span<const std::uint8_t> payload) {
  if (state_ != State::Receiving) {
    return Fail({}, Problem::BlockWithoutAnnounce,
                "block " + std::to_string(index) + " arrived without an announce");
  }
  if (index != nextBlock_) {
    return Fail({}, Problem::OutOfOrder,
                "block " + std::to_string(index) + " arrived, expected block " +
                    std::to_string(nextBlock_) + " of " + std::to_string(blockCount_));
  }
  const bool last = nextBlock_ == blockCount_ - 1;
  if (!last && payload.size() != static_cast<std::size_t>(UPDATE_BLOCK_SIZE)) {
    return Fail({}, Problem::WrongLength,
                "block " + std::to_string(index) + " of " + std::to_string(blockCount_) +
                    " carries " + std::to_string(payload.size()) + " bytes, expected " +
                    std::to_string(UPDATE_BLOCK_SIZE));
  }
  packed_.insert(packed_.end(), payload.begin(), payload.end());
  ++nextBlock_;

  Output out;
  if (last) {
    UnpackResult unpacked = UnpackImage(packed_);
    if (!unpacked.ok()) {
      return Fail(std::move(out), Problem::BadPacking,
                  "received data does not unpack at packed byte " +
                      std::to_string(unpacked.errorOffset) + ": " + Describe(unpacked.error));
    }
    out.verdict = Judge(std::move(unpacked.image));
    state_ = State::Idle;
    packed_.clear();
    return out;
  }
  if (options_.closeAfter && *options_.closeAfter == index) {
    state_ = State::Closed;
    out.closePorts = true;
    out.text = "closing the ports after block " + std::to_string(index) + " of " +
               std::to_string(blockCount_);
    return out;
  }
  if (options_.silentAfter && *options_.silentAfter == index) {
    state_ = State::Silent;
    out.text =
        "going silent after block " + std::to_string(index) + " of " + std::to_string(blockCount_);
    return out;
  }
  Reply(out, NextNote);
  return out;
}

DeviceSession::Verdict DeviceSession::Judge(std::vector<std::uint8_t> image) const {
  Verdict verdict;
  verdict.blocks = blockCount_;
  verdict.crc32 = Crc32(image);
  if (options_.expected) {
    const auto& expected = *options_.expected;
    verdict.expectedLength = expected.size();
    verdict.expectedCrc32 = Crc32(expected);
    const auto [a, b] = std::mismatch(image.begin(), image.end(), expected.begin(), expected.end());
    verdict.identical = a == image.end() && b == expected.end();
    verdict.firstDifference = static_cast<std::size_t>(a - image.begin());
  }
  verdict.image = std::move(image);
  return verdict;
}

std::string FormatVerdict(const DeviceSession::Verdict& v, const std::string& expectedName) {
  std::string line = "verdict: received " + std::to_string(v.image.size()) + " bytes in " +
                     std::to_string(v.blocks) + (v.blocks == 1 ? " block" : " blocks") +
                     ", CRC-32 " + Hex32(v.crc32);
  if (!v.identical) {
    return line;
  }
  if (*v.identical) {
    return line + ", identical to " + expectedName;
  }
  return line + ", DIFFERENT from " + expectedName + " (" + std::to_string(v.expectedLength) +
         " bytes, CRC-32 " + Hex32(v.expectedCrc32) + "): first difference at byte " +
         std::to_string(v.firstDifference);
}

}  // namespace movrin
