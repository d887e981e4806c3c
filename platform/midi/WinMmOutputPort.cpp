#include "WinMmOutputPort.h"

#include <algorithm>
#include <chrono>

namespace movrin {
namespace {

using Clock = std::chrono::steady_clock;

// A driver that was reset gives its buffers back at once; this is only a safety net.
constexpr std::chrono::seconds kResetLimit{1};

}  // namespace

// The header points into the bytes; both stay where they are until the driver is done.
struct WinMmOutputPort::Buffer {
  std::vector<char> bytes;
  MIDIHDR header{};

  [[nodiscard]] bool done() const {
    return (*static_cast<const volatile DWORD*>(&header.dwFlags) & MHDR_DONE) != 0;
  }
};

WinMmOutputPort::Opened WinMmOutputPort::Open(UINT deviceId) {
  WinHandle done(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!done.valid()) {
    return {nullptr, MidiError::OpenFailed};
  }
  HMIDIOUT out = nullptr;
  const MMRESULT result =
      ::midiOutOpen(&out, deviceId, reinterpret_cast<DWORD_PTR>(done.get()), 0, CALLBACK_EVENT);
  if (result != MMSYSERR_NOERROR) {
    return {nullptr, ErrorFromMmResult(result, MidiError::OpenFailed)};
  }
  return {std::unique_ptr<WinMmOutputPort>(new WinMmOutputPort(out, std::move(done))),
          MidiError::None};
}

WinMmOutputPort::WinMmOutputPort(HMIDIOUT out, WinHandle done)
    : out_(out), done_(std::move(done)) {}

WinMmOutputPort::~WinMmOutputPort() {
  ::midiOutReset(out_);
  for (const auto& buffer : held_) {
    ::midiOutUnprepareHeader(out_, &buffer->header, sizeof buffer->header);
  }
  ::midiOutClose(out_);
}

MidiError WinMmOutputPort::Send(std::span<const std::uint8_t> message) {
  if (!message.empty() && message.front() == 0xF0) {
    return SendLong(message);
  }
  return SendShort(message);
}

MidiError WinMmOutputPort::SendShort(std::span<const std::uint8_t> message) {
  if (message.empty() || message.size() > 3) {
    return MidiError::SendFailed;
  }
  DWORD packed = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    packed |= static_cast<DWORD>(message[i]) << (8 * i);
  }
  return ErrorFromMmResult(::midiOutShortMsg(out_, packed), MidiError::SendFailed);
}

MidiError WinMmOutputPort::SendLong(std::span<const std::uint8_t> message) {
  auto buffer = std::make_unique<Buffer>();
  buffer->bytes.assign(message.begin(), message.end());
  MIDIHDR& header = buffer->header;
  header.lpData = buffer->bytes.data();
  header.dwBufferLength = static_cast<DWORD>(buffer->bytes.size());
  header.dwBytesRecorded = header.dwBufferLength;
  MMRESULT result = ::midiOutPrepareHeader(out_, &header, sizeof header);
  if (result != MMSYSERR_NOERROR) {
    return ErrorFromMmResult(result, MidiError::SendFailed);
  }
  ::ResetEvent(done_.get());
  result = ::midiOutLongMsg(out_, &header, sizeof header);
  if (result != MMSYSERR_NOERROR) {
    ::midiOutUnprepareHeader(out_, &header, sizeof header);
    return ErrorFromMmResult(result, MidiError::SendFailed);
  }

  // The event is set for every buffer done and at open and close too: the flag decides.
  const auto waitDone = [&](Clock::time_point deadline) {
    while (!buffer->done()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        return false;
      }
      if (::WaitForSingleObject(done_.get(), static_cast<DWORD>(left)) == WAIT_FAILED) {
        return buffer->done();
      }
    }
    return true;
  };
  MidiError error = MidiError::None;
  if (!waitDone(Clock::now() + SysExSendLimit(message.size()))) {
    error = MidiError::DrainTimeout;
    ::midiOutReset(out_);
    if (!waitDone(Clock::now() + kResetLimit)) {
      held_.push_back(std::move(buffer));
      return error;
    }
  }
  ::midiOutUnprepareHeader(out_, &header, sizeof header);
  return error;
}

}  // namespace movrin
