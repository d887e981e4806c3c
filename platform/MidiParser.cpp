#include "MidiParser.h"

namespace movrin {

namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

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

}  // namespace

void MidiParser::Drop() {
  if (!message_.empty()) {
    ++dropped_;
  }
  message_.clear();
  inSysEx_ = tooLong_ = false;
  expected_ = 0;
}

void MidiParser::Feed(std::span<const std::uint8_t> event, const Emit& emit) {
  for (const std::uint8_t byte : event) {
    if (byte >= kFirstRealTime) {
      emit(std::span<const std::uint8_t>(&byte, 1));
    } else if (byte == kSysExEnd) {
      if (inSysEx_ && !tooLong_) {
        message_.push_back(byte);
        emit(message_);
        message_.clear();
        inSysEx_ = false;
      } else if (inSysEx_) {
        inSysEx_ = tooLong_ = false;
      } else {
        Drop();
        ++dropped_;  // an end without a start
      }
    } else if (byte >= 0x80) {
      Drop();
      message_.push_back(byte);
      inSysEx_ = byte == kSysExStart;
      expected_ = inSysEx_ ? 0 : MessageLength(byte);
    } else if (tooLong_) {
      continue;
    } else if (message_.empty()) {
      ++dropped_;  // a data byte with no status before it
    } else if (inSysEx_ && message_.size() >= longest_) {
      Drop();
      inSysEx_ = tooLong_ = true;  // the rest of it goes as well
    } else {
      message_.push_back(byte);
    }
    if (!inSysEx_ && expected_ != 0 && message_.size() == expected_) {
      emit(message_);
      message_.clear();
      expected_ = 0;
    }
  }
  // Short messages do not continue into the next event.
  if (!inSysEx_ && !message_.empty()) {
    emit(message_);
    message_.clear();
    expected_ = 0;
  }
}

}  // namespace movrin
