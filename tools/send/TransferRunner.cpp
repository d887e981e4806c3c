#include "TransferRunner.h"

#include <algorithm>
#include <vector>

#include "Diagnostics.h"
#include "TransferDriver.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
  using Kind = TransferDriver::Action::Kind;
  Report report;
  TransferDriver driver(options_.timeout);
  TransferDriver::Action first = driver.Begin(image);
  if (first.kind == Kind::InvalidImage) {
    report.result = Result::InvalidImage;
    return report;
  }
  report.blockCount = driver.blockCount();
  const std::int64_t bytesTotal = WireBytes(driver.plan());
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
    driver.Abort();
    input.port.reset();
    report.result = result;
    report.midiError = error;
    return report;
  };
  if (inbox_.interrupted()) {
    return finish(Result::Interrupted);
  }

  const bool checkPorts = options_.portCheckInterval.count() > 0;
  auto nextCheck =
      checkPorts ? Clock::now() + options_.portCheckInterval : Clock::time_point::max();
  Result stopped = Result::Interrupted;
  MidiError sendError = MidiError::None;

  const std::uint64_t xrunsBefore = backend_.XrunCount();
  TransferLink link;
  link.receive = [&](std::optional<Clock::time_point> deadline) -> std::optional<std::uint32_t> {
    for (;;) {
      const auto now = Clock::now();
      if (deadline && now >= *deadline) {
        return std::nullopt;  // the driver tells a timeout from the caller stopping
      }
      if (now >= nextCheck) {
        if (auto gone = MissingPort()) {
          report.gonePort = *gone;
          stopped = Result::PortGone;
          return std::nullopt;
        }
        nextCheck = now + options_.portCheckInterval;
      }
      const std::optional<std::uint32_t> message =
          inbox_.WaitPopUntil(std::min(deadline.value_or(Clock::time_point::max()), nextCheck));
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
  link.progressed = [&](const TransferDriver::Action& action) {
    if (action.kind == Kind::Started) {
      report.readyReceived = true;
      if (observer.started) {
        observer.started(report.blockCount, bytesTotal);
      }
    } else if (action.kind == Kind::BlockSent || action.kind == Kind::Completed) {
      report.blocksSent = action.blocksSent;
      bytesSent += static_cast<std::int64_t>(action.bytes);
      if (observer.blockSent) {
        observer.blockSent(report.blocksSent, bytesSent);
      }
    }
  };

  const Kind end = DriveTransfer(driver, std::move(first), link).kind;
  if (end != Kind::Completed && inbox_.interrupted()) {
    return finish(Result::Interrupted);  // a send cut short by a stalled server
  }
  switch (end) {
    case Kind::Completed:
      return finish(Result::Completed);
    case Kind::AnnounceFailed:
      return finish(Result::AnnounceFailed, sendError);
    case Kind::BlockFailed:
      if (sendError == MidiError::NoSuchPort) {  // unplugged between the check and the send
        report.gonePort = options_.output.name;
        return finish(Result::PortGone, sendError);
      }
      return finish(Result::BlockSendFailed, sendError);
    case Kind::TimedOut:
      report.xruns = backend_.XrunCount() - xrunsBefore;
      return finish(Result::Timeout);
    default:
      return finish(stopped);
  }
}

std::string DescribeTransferReport(const TransferRunner::Report& report,
                                   const TransferRunner::Options& options) {
  const std::string progress = "after block " + std::to_string(report.blocksSent) + " of " +
                               std::to_string(report.blockCount);
  const std::string where = report.readyReceived ? progress : "before the device was ready";
  switch (report.result) {
    case TransferRunner::Result::Completed:
      return "transfer complete: " + Counted(report.blockCount, "block") + " sent to " +
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
