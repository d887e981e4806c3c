// Faults of the JACK server itself, on a private server that each test starts, stalls or
// stops: a send must end with an error in bounded time, and a message given up on must never
// reach a later send.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "MidiInbox.h"
#include "RtMidiBackend.h"

#ifndef MOVRIN_JACK_SCRIPT
#error "MOVRIN_JACK_SCRIPT must name tests/jack/jack-server.sh"
#endif

namespace movrin {

void PrintTo(MidiError error, std::ostream* os) {
  *os << Describe(error);
}

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
    ASSERT_EQ(std::system((std::string(MOVRIN_JACK_SCRIPT) + " start " + name_ + " 256").c_str()),
              0);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    std::ifstream pidFile(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                          "/movrin-jack-" + name_ + ".pid");
    pidFile >> serverPid_;
    ASSERT_GT(serverPid_, 0);
  }
  void TearDown() override {
    if (serverPid_ > 0) {
      kill(serverPid_, SIGCONT);
    }
    [[maybe_unused]] const int stopped =
        std::system((std::string(MOVRIN_JACK_SCRIPT) + " stop " + name_).c_str());
  }

  std::string name_;
  pid_t serverPid_ = 0;
};

TEST_F(JackServerFault, StalledGraphGivesDrainTimeoutAndTheBlockNeverArrivesLater) {
  auto device = RtMidiBackend::Create("movrin-fault-dev", RtMidiBackend::Api::Jack);
  ASSERT_EQ(device->ApiName(), "JACK");
  RawInbox received;
  auto in = device->OpenVirtualInput("in", [&](std::span<const std::uint8_t> m) {
    received.Push({m.begin(), m.end()});
  });
  ASSERT_EQ(in.error, MidiError::None);
  auto host = RtMidiBackend::Create("movrin-fault-host", RtMidiBackend::Api::Jack);
  const MidiPortInfo port{"movrin-fault-dev:in"};
  ASSERT_EQ(host->SendSysEx(port, Block(1)), MidiError::None);
  ASSERT_EQ(received.WaitPop(kWatchdog), Block(1));

  ASSERT_EQ(kill(serverPid_, SIGSTOP), 0);
  EXPECT_EQ(host->SendSysEx(port, Block(2)), MidiError::DrainTimeout);
  ASSERT_EQ(kill(serverPid_, SIGCONT), 0);

  // The same port, kept open: had the stalled block stayed queued, it would go out first.
  ASSERT_EQ(host->SendSysEx(port, Block(3)), MidiError::None);
  EXPECT_EQ(received.WaitPop(kWatchdog), Block(3)) << "the timed-out block came through";
  EXPECT_FALSE(received.WaitPop(milliseconds{0}));
}

TEST_F(JackServerFault, ServerGoneGivesErrorsNotHangs) {
  auto device = RtMidiBackend::Create("movrin-fault-dev", RtMidiBackend::Api::Jack);
  ASSERT_EQ(device->ApiName(), "JACK");
  auto devIn = device->OpenVirtualInput("in", [](std::span<const std::uint8_t>) {});
  ASSERT_EQ(devIn.error, MidiError::None);
  auto out = device->OpenVirtualOutput("out");
  ASSERT_EQ(out.error, MidiError::None);
  auto host = RtMidiBackend::Create("movrin-fault-host", RtMidiBackend::Api::Jack);
  const MidiPortInfo port{"movrin-fault-dev:in"};
  ASSERT_EQ(host->SendSysEx(port, Block(1)), MidiError::None);

  ASSERT_EQ(std::system((std::string(MOVRIN_JACK_SCRIPT) + " stop " + name_).c_str()), 0);
  serverPid_ = 0;
  const MidiError send = host->SendSysEx(port, Block(2));
  EXPECT_NE(send, MidiError::None);
  EXPECT_TRUE(host->ListOutputs().empty());
  EXPECT_NE(out.port->Send(Bytes{0x90, 0x3C, 0x33}), MidiError::None);
}

}  // namespace
}  // namespace movrin
