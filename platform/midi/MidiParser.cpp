#include "MidiParser.h"

#include "Protocol.h"

namespace movrin {

namespace {

constexpr std::uint8_t kFirstRealTime = 0xF8;

bool IsStatus(std::uint8_t byte) {
  return byte >= 0x80;
}

// The length of the message a status byte starts, itself included.
std::size_t MessageLength(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 2;
    case 0xF0:
      return status == 0xF2 ? 3 : status == 0xF1 || status == 0xF3 ? 2 : 1;
    default:
      return 3;
  }
}

// The whole short message `event` ends in, if it does: status, then only data bytes.
std::span<const std::uint8_t> TrailingMessage(std::span<const std::uint8_t> event) {
  for (std::size_t length = 1; length <= 3 && length < event.size(); ++length) {
    const auto tail = event.last(length);
    const std::uint8_t status = tail.front();
    if (IsStatus(status)) {
      const bool ok = status != kSysExStart && status != kSysExEnd && status < kFirstRealTime &&
                      MessageLength(status) == length;
      return ok ? tail : std::span<const std::uint8_t>{};
    }
  }
  return {};
}

}  // namespace

void MidiParser::Append(std::span<const std::uint8_t> part, const Emit& emit) {
  if (sysex_.size() + part.size() > longest_) {
    ++dropped_;
    sysex_.clear();
    inSysEx_ = part.back() != kSysExEnd;  // the rest of it goes as well
    longTail_ = inSysEx_;
    return;
  }
  if (!longTail_) {
    sysex_.insert(sysex_.end(), part.begin(), part.end());
  }
  if (part.back() == kSysExEnd) {
    if (!longTail_) {
      emit(sysex_);
    }
    sysex_.clear();
    inSysEx_ = longTail_ = false;
  }
}

void MidiParser::Feed(std::span<const std::uint8_t> event, const Emit& emit) {
  if (event.empty()) {
    return;
  }
  const std::uint8_t first = event.front();
  if (first >= kFirstRealTime) {
    emit(event);  // between the parts of a SysEx, or anywhere else
    return;
  }
  if (inSysEx_ && (!IsStatus(first) || first == kSysExEnd)) {
    Append(event, emit);
    return;
  }
  if (inSysEx_) {
    ++dropped_;  // broken off by the status that starts this event
    sysex_.clear();
    inSysEx_ = longTail_ = false;
  }
  if (first == kSysExStart && event.back() != kSysExEnd) {
    if (const auto joined = TrailingMessage(event); !joined.empty()) {
      ++dropped_;
      emit(joined);
      return;
    }
    inSysEx_ = true;
    Append(event, emit);
    return;
  }
  if (!IsStatus(first) || first == kSysExEnd) {
    ++dropped_;  // data or an end with no message under way
    return;
  }
  emit(event);
}

}  // namespace movrin
