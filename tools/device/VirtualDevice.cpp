#include "VirtualDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Diagnostics.h"
#include "OutputFile.h"
#include "SignalWatcher.h"

namespace movrin {
namespace {

// How soon a server that went away is noticed.
constexpr std::chrono::milliseconds kWaitSlice{100};
constexpr std::chrono::milliseconds kLinger{500};

// Sleeps in short steps so that Ctrl-C is not held up by a long pace.
void Pause(std::chrono::microseconds delay, const RawInbox& inbox) {
  const auto until = std::chrono::steady_clock::now() + delay;
  while (!inbox.interrupted()) {
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      return;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
  }
}

}  // namespace

VirtualDevice::VirtualDevice(const DeviceArguments& args, DeviceSession::Options options)
    : args_(args), session_(std::move(options)) {}

int VirtualDevice::Run() {
  // Until the ports serve, a signal ends the program at once: the MIDI system's calls may be
  // waiting on a server that does not answer. Then it ends the serving loop.
  SignalWatcher signals([this](int signal) {
    if (!serving_.load()) {
      PrintError("interrupted");
      std::_Exit(128 + signal);
    }
    inbox_.Interrupt();
  });
  backend_ = CreateSystemMidiBackend(args_.name);
  if (!backend_->HasSystem()) {
    PrintError("no MIDI system could be reached (" + NoMidiSystemDetail() + ")");
    for (const std::string& reason : backend_->TakeNotices()) {
      PrintError(reason);
    }
    return Exit(DeviceExit::MidiFailed);
  }
  // The output first, so the first reply never finds it missing.
  OpenOutputResult out = backend_->OpenVirtualOutput("out");
  if (!out.port) {
    PrintError("cannot open virtual output port \"out\": " + Describe(out.error));
    return Exit(DeviceExit::MidiFailed);
  }
  output_ = std::move(out.port);
  OpenInputResult in =
      backend_->OpenVirtualInput("in", [this](std::span<const std::uint8_t> message) {
        inbox_.Push(std::vector<std::uint8_t>(message.begin(), message.end()));
      });
  if (!in.port) {
    PrintError("cannot open virtual input port \"in\": " + Describe(in.error));
    return Exit(DeviceExit::MidiFailed);
  }
  input_ = std::move(in.port);
  serving_.store(true);

  // JACK may add a suffix to the client name, so the port names are given as the user
  // would match them.
  std::printf("ready: client \"%s\" with ports \"in\" (send here) and \"out\" (answers) on %s\n",
              args_.name.c_str(), backend_->ApiName().c_str());
  std::fflush(stdout);

  bool done = false;
  while (!done) {
    auto message = inbox_.WaitPop(kWaitSlice);
    if (inbox_.interrupted()) {
      break;
    }
    if (backend_->SystemGone()) {
      PrintError("the " + backend_->ApiName() + " server went away");
      input_.reset();
      output_.reset();
      return Exit(DeviceExit::MidiFailed);
    }
    if (message) {
      done = Handle(*message);
    }
  }
  if (done) {
    // The sender confirms the last block only after it has arrived; ports that vanish at
    // that moment would make a good transfer look failed.
    Pause(kLinger, inbox_);
  }
  input_.reset();
  output_.reset();
  if (args_.once && !completed_) {
    if (!failed_) {
      PrintError("stopped before a transfer was complete");
    }
    return Exit(DeviceExit::Failed);
  }
  return Exit(failed_ ? DeviceExit::Failed : DeviceExit::Ok);
}

// Returns whether to stop serving.
bool VirtualDevice::Handle(const std::vector<std::uint8_t>& message) {
  DeviceSession::Output out = session_.OnMessage(message);
  std::size_t previous = message.size();
  for (const auto& reply : out.replies) {
    Pace(previous);
    if (!output_) {
      break;
    }
    const MidiError error = output_->Send(reply);
    if (error != MidiError::None) {
      PrintError("cannot send a reply: " + Describe(error));
    }
    previous = reply.size();
  }
  if (out.problem != DeviceSession::Problem::None) {
    PrintError(out.text);
    failed_ = true;
  } else if (!out.text.empty()) {
    std::printf("%s\n", out.text.c_str());
    std::fflush(stdout);
  }
  if (out.verdict) {
    Conclude(*out.verdict);
  }
  if (out.closePorts) {
    // Ports go away while the process lives on: the sender must notice on its own.
    input_.reset();
    output_.reset();
    std::printf("ports closed; waiting for Ctrl-C\n");
    std::fflush(stdout);
  }
  return args_.once && out.ended();
}

void VirtualDevice::Pace(std::size_t previousBytes) {
  switch (args_.pace) {
    case Pace::None:
      return;
    case Pace::Din:
      Pause(DinWireTime(previousBytes), inbox_);
      return;
    case Pace::Fixed:
      Pause(args_.fixedDelay, inbox_);
      return;
  }
}

void VirtualDevice::Conclude(const DeviceSession::Verdict& verdict) {
  std::string line = FormatVerdict(verdict, args_.expectPath);
  if (!args_.savePath.empty()) {
    const WriteFileResult written =
        WriteOutputFile(args_.savePath, verdict.image, args_.expectPath);
    if (written.ok) {
      line += ", saved to " + args_.savePath;
    } else {
      PrintError(written.error);
      failed_ = true;
    }
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (verdict.identical && !*verdict.identical) {
    failed_ = true;
  } else {
    completed_ = true;
  }
}

}  // namespace movrin
