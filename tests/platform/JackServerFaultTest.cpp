// Faults of the JACK server itself, on a private server that each test starts and stalls: a
// send ends with an error in bounded time, a message given up on never reaches a later send,
// ports close and opens give up without the server, and xruns are named.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "JackOutputPort.h"
#include "MidiBackend.h"
#include "MidiInbox.h"
#include "MidiSystems.h"
#include "TransferRunner.h"

#ifndef MOVRIN_JACK_SCRIPT
#error "MOVRIN_JACK_SCRIPT must name tests/jack/jack-server.sh"
#endif

namespace movrin {

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

constexpr milliseconds kWatchdog{10000};

Bytes Block(std::uint8_t seed) {
  Bytes block(1038, seed);
  block.front() = 0xF0;
  block.back() = 0xF7;
  return block;
}

class JackServerFault : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("MOVRIN_FAULT_SERVER");
    ASSERT_NE(name, nullptr) << "run through CTest, which names the server";
    name_ = name;
    Start("256");
  }
  void Start(const std::string& periodAndRate) {
    ASSERT_EQ(
        std::system(
            (std::string(MOVRIN_JACK_SCRIPT) + " start " + name_ + " " + periodAndRate).c_str()),
        0);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    std::ifstream pidFile(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                          "/movrin-jack-" + name_ + ".pid");
    pidFile >> serverPid_;
    ASSERT_GT(serverPid_, 0);
  }
  void TearDown() override {  // continues a stopped server first
    [[maybe_unused]] const int stopped =
        std::system((std::string(MOVRIN_JACK_SCRIPT) + " stop " + name_).c_str());
  }

  std::string name_;
  pid_t serverPid_ = 0;
};

// Ports closed while the server is stopped: nothing waits for it without limit.
bool ClosesWithoutTheServer(std::function<void()> close) {
  auto closing = std::async(std::launch::async, std::move(close));
  return closing.wait_for(kWatchdog) == std::future_status::ready;
}

TEST_F(JackServerFault, StalledServerGivesDrainTimeoutNeverALateBlockAndLetsPortsClose) {
  auto device = CreateMidiBackend("movrin-fault-dev", MidiSystem::Jack);
  ASSERT_EQ(device->ApiName(), "JACK");
  RawInbox received;
  auto in = device->OpenVirtualInput("in", [&](std::span<const std::uint8_t> m) {
    received.Push({m.begin(), m.end()});
  });
  ASSERT_EQ(in.error, MidiError::None);
  auto host = CreateMidiBackend("movrin-fault-host", MidiSystem::Jack);
  const MidiPortInfo port{"movrin-fault-dev:in"};
  ASSERT_EQ(host->SendSysEx(port, Block(1)), MidiError::None);
  ASSERT_EQ(received.WaitPop(kWatchdog), Block(1));

  ASSERT_EQ(kill(serverPid_, SIGSTOP), 0);
  EXPECT_EQ(host->SendSysEx(port, Block(2)), MidiError::DrainTimeout);
  ASSERT_EQ(kill(serverPid_, SIGCONT), 0);
  // The same port, kept open: had the stalled block stayed queued, it would go out first.
  ASSERT_EQ(host->SendSysEx(port, Block(3)), MidiError::None);
  EXPECT_EQ(received.WaitPop(kWatchdog), Block(3)) << "the timed-out block came through";

  ASSERT_EQ(kill(serverPid_, SIGSTOP), 0);
  EXPECT_NE(host->OpenInput({"movrin-fault-dev-01:out"}, [](std::uint32_t) {}).error,
            MidiError::None);
  EXPECT_TRUE(ClosesWithoutTheServer([&] {
    in.port.reset();
    host.reset();
    device.reset();
  }));
}

// A server that cycles slowly (512 ms a period) still delivers: a send waits as long as cycles
// come, even when playing the message out takes nearly two of them, longer than the limit. Once
// the cycles stop for the whole limit the message is lost, and it is never played later.
TEST_F(JackServerFault, SlowCyclesDeliverStoppedCyclesLose) {
  TearDown();
  Start("2048 4000");
  ASSERT_FALSE(HasFatalFailure());
  auto device = CreateMidiBackend("movrin-fault-dev", MidiSystem::Jack);
  RawInbox received;
  auto in = device->OpenVirtualInput("in", [&](std::span<const std::uint8_t> m) {
    received.Push({m.begin(), m.end()});
  });
  ASSERT_EQ(in.error, MidiError::None);
  auto out = JackOutputPort::Open("movrin-fault-host", "out", "movrin-fault-dev:in");
  ASSERT_EQ(out.error, MidiError::None);
  constexpr milliseconds kLimit{900};
  // Returns just after a cycle began: the next message is queued with almost a whole period to
  // go before it is written, and is played out only at the start of the period after that.
  ASSERT_EQ(out.port->Send(Block(1), kWatchdog), MidiError::None);
  EXPECT_EQ(out.port->Send(Block(2), kLimit), MidiError::None);
  EXPECT_EQ(received.WaitPop(kWatchdog), Block(1));
  EXPECT_EQ(received.WaitPop(kWatchdog), Block(2));

  ASSERT_EQ(kill(serverPid_, SIGSTOP), 0);
  EXPECT_EQ(out.port->Send(Block(3), kLimit), MidiError::DrainTimeout);
  ASSERT_EQ(kill(serverPid_, SIGCONT), 0);
  EXPECT_EQ(out.port->Send(Block(4), kWatchdog), MidiError::None);
  EXPECT_EQ(received.WaitPop(kWatchdog), Block(4)) << "the lost block came through";
}

// The server falls behind once the announce is out (stopped for a moment, as a loaded machine
// would hold it up) and the device never answers: the timeout names the xruns.
TEST_F(JackServerFault, TimeoutAfterXrunsSaysMidiMayHaveBeenLost) {
  auto device = CreateMidiBackend("movrin-fault-dev", MidiSystem::Jack);
  auto in = device->OpenVirtualInput("in", [this](std::span<const std::uint8_t>) {
    kill(serverPid_, SIGSTOP);
    std::this_thread::sleep_for(milliseconds{200});
    kill(serverPid_, SIGCONT);
  });
  auto out = device->OpenVirtualOutput("out");
  ASSERT_EQ(out.error, MidiError::None);
  auto host = CreateMidiBackend("movrin-fault-host", MidiSystem::Jack);
  EXPECT_EQ(host->XrunCount(), 0u);
  TransferRunner::Options options;
  options.output = {"movrin-fault-dev:in"};
  options.input = {"movrin-fault-dev-01:out"};
  options.timeout = milliseconds{3000};
  const auto report = TransferRunner(*host, options).Run(Bytes(100, 0x42));
  ASSERT_EQ(report.result, TransferRunner::Result::Timeout);
  EXPECT_GT(report.xruns, 0u);
  EXPECT_NE(DescribeTransferReport(report, options)
                .find("JACK reported " + std::to_string(report.xruns) +
                      " xruns during the transfer: MIDI may have been lost; try again, with a "
                      "larger period, or over the ALSA sequencer"),
            std::string::npos)
      << DescribeTransferReport(report, options);
}

}  // namespace
}  // namespace movrin
