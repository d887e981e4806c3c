#pragma once

// One live transfer from the command line: opens the input and lets the transfer driver run,
// each message sent on its own with the backend's one-shot SendSysEx, while this class owns the
// waiting (timeout, vanished ports, interrupt). Replies cross from the MIDI thread through a
// MidiInbox; everything else runs on the caller's thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "MidiBackend.h"
#include "MidiInbox.h"

namespace movrin {

class TransferRunner {
 public:
  struct Options {
    MidiPortInfo output;  // reaches the device
    MidiPortInfo input;   // the device answers here
    // Longest wait for the ready note and for each request; none waits forever.
    std::optional<std::chrono::milliseconds> timeout = std::chrono::seconds(30);
    // How often a silent wait checks that both ports still exist; zero never checks.
    std::chrono::milliseconds portCheckInterval{1000};
  };

  enum class Result {
    Completed,
    InvalidImage,  // empty or too large; nothing was opened
    InputOpenFailed,
    AnnounceFailed,
    BlockSendFailed,
    Timeout,
    PortGone,  // one of the two ports disappeared while waiting
    Interrupted,
  };

  struct Report {
    Result result = Result::InvalidImage;
    MidiError midiError = MidiError::None;  // for InputOpenFailed and the send failures
    bool readyReceived = false;
    std::int64_t blockCount = 0;
    std::int64_t blocksSent = 0;
    std::string gonePort;     // for PortGone
    std::uint64_t xruns = 0;  // reported by the MIDI system since the announce, for Timeout
  };

  struct Observer {
    std::function<void(std::int64_t blockCount, std::int64_t bytesTotal)> started;
    std::function<void(std::int64_t blocksSent, std::int64_t bytesSent)> blockSent;
  };

  TransferRunner(MidiBackend& backend, Options options);

  // Returns with the input port closed, whatever the outcome.
  [[nodiscard]] Report Run(std::span<const std::uint8_t> image, const Observer& observer = {});

  // From any thread or a signal handler: ends a running or the next transfer as Interrupted.
  void Interrupt() noexcept { inbox_.Interrupt(); }

 private:
  [[nodiscard]] std::optional<std::string> MissingPort();

  MidiBackend& backend_;
  Options options_;
  MidiInbox inbox_;
};

// One line for the user, naming the port involved.
[[nodiscard]] std::string DescribeTransferReport(const TransferRunner::Report& report,
                                                 const TransferRunner::Options& options);

}  // namespace movrin
