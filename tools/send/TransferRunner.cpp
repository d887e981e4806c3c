#include "TransferRunner.h"

#include <algorithm>
#include <vector>

#include "TransferDriver.h"
#include "TransferEngine.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Waits are cut into slices no longer than this, so an endless wait still looks around.
constexpr milliseconds kLongestSlice{60000};

// Total bytes of all block messages, for the rate and the time left.
std::int64_t WireBytes(const BlockPlan& plan) {
  return plan.packedLength + plan.blockCount * static_cast<std::int64_t>(kBlockOverhead);
}

bool Listed(const std::vector<MidiPortInfo>& ports, const MidiPortInfo& port) {
  return std::find(ports.begin(), ports.end(), port) != ports.end();
}

std::string Seconds(milliseconds ms) {
  if (ms.count() % 1000 == 0) {
    return std::to_string(ms.count() / 1000) + " s";
  }
  return std::to_string(ms.count()) + " ms";
}

std::string Quoted(const MidiPortInfo& port) {
  return "\"" + port.name + "\"";
}

}  // namespace

TransferRunner::TransferRunner(MidiBackend& backend, Options options)
    : backend_(backend), options_(std::move(options)) {}

std::optional<std::string> TransferRunner::MissingPort() {
  if (!Listed(backend_.ListOutputs(), options_.output)) {
    return options_.output.name;
  }
  if (!Listed(backend_.ListInputs(), options_.input)) {
    return options_.input.name;
  }
  return std::nullopt;
}

TransferRunner::Report TransferRunner::Run(std::span<const std::uint8_t> image,
                                           const Observer& observer) {
  Report report;
  TransferEngine engine;
  const std::vector<std::uint8_t> announce = engine.Begin(image);
  if (announce.empty()) {
    report.result = Result::InvalidImage;
    return report;
  }
  report.blockCount = engine.blockCount();
  const std::int64_t bytesTotal = WireBytes(engine.plan());
  std::int64_t bytesSent = 0;

  inbox_.Clear();
  // Open before announcing: a quick device answers before the announce send has returned.
  OpenInputResult input =
      backend_.OpenInput(options_.input, [this](std::uint32_t message) { inbox_.Push(message); });
  if (!input.port) {
    report.result = Result::InputOpenFailed;
    report.midiError = input.error == MidiError::None ? MidiError::OpenFailed : input.error;
    return report;
  }
  auto finish = [&](Result result, MidiError error = MidiError::None) {
    engine.Abort();
    input.port.reset();
    report.result = result;
    report.midiError = error;
    return report;
  };
  if (inbox_.interrupted()) {
    return finish(Result::Interrupted);
  }

  // The timeout runs from the last thing the device asked for; noise does not extend it.
  auto deadline = Clock::time_point::max();
  auto restartTimeout = [&] {
    if (options_.timeout) {
      deadline = Clock::now() + *options_.timeout;
    }
  };
  const bool checkPorts = options_.portCheckInterval.count() > 0;
  auto nextCheck =
      checkPorts ? Clock::now() + options_.portCheckInterval : Clock::time_point::max();
  Result stopped = Result::Interrupted;
  MidiError sendError = MidiError::None;

  const std::uint64_t xrunsBefore = backend_.XrunCount();
  TransferLink link;
  link.receive = [&]() -> std::optional<std::uint32_t> {
    for (;;) {
      const auto now = Clock::now();
      if (now >= deadline) {
        report.xruns = backend_.XrunCount() - xrunsBefore;
        stopped = Result::Timeout;
        return std::nullopt;
      }
      if (now >= nextCheck) {
        if (auto gone = MissingPort()) {
          report.gonePort = *gone;
          stopped = Result::PortGone;
          return std::nullopt;
        }
        nextCheck = now + options_.portCheckInterval;
      }
      const auto until = std::min({deadline, nextCheck, now + kLongestSlice});
      const auto slice = std::chrono::ceil<milliseconds>(until - now);
      const std::optional<std::uint32_t> message = inbox_.WaitPop(std::max(slice, milliseconds(1)));
      if (inbox_.interrupted()) {
        stopped = Result::Interrupted;
        return std::nullopt;
      }
      if (message) {
        return message;
      }
    }
  };
  link.send = [&](std::span<const std::uint8_t> message) {
    sendError = backend_.SendSysEx(options_.output, message);
    return sendError == MidiError::None;
  };
  link.progressed = [&](const TransferEngine::Step& step, std::size_t bytes) {
    restartTimeout();
    if (step.kind == TransferEngine::Step::Kind::StartSending) {
      report.readyReceived = true;
      if (observer.started) {
        observer.started(report.blockCount, bytesTotal);
      }
      return;
    }
    report.blocksSent = engine.blocksSent();
    bytesSent += static_cast<std::int64_t>(bytes);
    if (observer.blockSent) {
      observer.blockSent(report.blocksSent, bytesSent);
    }
  };

  restartTimeout();
  const DriveResult driven = DriveTransfer(engine, announce, link);
  if (driven != DriveResult::Completed && inbox_.interrupted()) {
    return finish(Result::Interrupted);  // a send cut short by a stalled server
  }
  switch (driven) {
    case DriveResult::Completed:
      return finish(Result::Completed);
    case DriveResult::AnnounceFailed:
      return finish(Result::AnnounceFailed, sendError);
    case DriveResult::BlockSendFailed:
      return finish(Result::BlockSendFailed, sendError);
    case DriveResult::Stopped:
      break;
  }
  return finish(stopped);
}

std::string DescribeTransferReport(const TransferRunner::Report& report,
                                   const TransferRunner::Options& options) {
  const std::string progress = "after block " + std::to_string(report.blocksSent) + " of " +
                               std::to_string(report.blockCount);
  const std::string where = report.readyReceived ? progress : "before the device was ready";
  switch (report.result) {
    case TransferRunner::Result::Completed:
      return "transfer complete: " + std::to_string(report.blockCount) + " blocks sent to " +
             Quoted(options.output);
    case TransferRunner::Result::InvalidImage:
      return "the image is empty or too large to send";
    case TransferRunner::Result::InputOpenFailed:
      return "cannot open MIDI input port " + Quoted(options.input) + ": " +
             Describe(report.midiError);
    case TransferRunner::Result::AnnounceFailed:
      return "sending the announce message to " + Quoted(options.output) +
             " failed: " + Describe(report.midiError);
    case TransferRunner::Result::BlockSendFailed:
      return "sending block " + std::to_string(report.blocksSent + 1) + " of " +
             std::to_string(report.blockCount) + " to " + Quoted(options.output) +
             " failed: " + Describe(report.midiError) + "; transfer stopped";
    case TransferRunner::Result::Timeout: {
      const std::string limit = options.timeout ? Seconds(*options.timeout) : "the timeout";
      const std::string xruns =
          report.xruns == 0 ? ""
                            : "; JACK reported " + std::to_string(report.xruns) +
                                  " xruns during the transfer: MIDI may have been lost; try "
                                  "again, with a larger period, or over the ALSA sequencer";
      if (!report.readyReceived) {
        return "no ready note from the device on " + Quoted(options.input) + " within " + limit +
               " after the announce" + xruns;
      }
      return "the device stopped asking for blocks: no request on " + Quoted(options.input) +
             " within " + limit + " " + progress + xruns;
    }
    case TransferRunner::Result::PortGone:
      return "MIDI port \"" + report.gonePort + "\" went away " + where + "; transfer stopped";
    case TransferRunner::Result::Interrupted:
      return "interrupted " + where + "; ports closed";
  }
  return {};
}

}  // namespace movrin
