// The system backend over a private JACK server (the CTest fixture "jack"): a second backend in
// the same process plays the device, with virtual ports.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "MidiInbox.h"
#include "RtMidiBackend.h"

namespace movrin {

void PrintTo(MidiError error, std::ostream* os) {
  *os << Describe(error);
}

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

// Bounded waits that turn a lost message into a failure instead of a hang.
constexpr milliseconds kWatchdog{10000};

std::string Unique(const std::string& stem) {
  static int counter = 0;
  return "movrin-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::unique_ptr<RtMidiBackend> JackBackend(const std::string& client) {
  auto backend = RtMidiBackend::Create(client, RtMidiBackend::Api::Jack);
  EXPECT_EQ(backend->ApiName(), "JACK") << "is JACK_DEFAULT_SERVER set by the fixture?";
  return backend;
}

// The port of `client` (or of its "-NN" sibling) called `shortName`.
std::optional<MidiPortInfo> Find(const std::vector<MidiPortInfo>& ports, const std::string& client,
                                 const std::string& shortName) {
  for (const MidiPortInfo& port : ports) {
    const auto colon = port.name.find(':');
    if (port.name.compare(0, client.size(), client) == 0 &&
        port.name.substr(colon + 1) == shortName) {
      return port;
    }
  }
  return std::nullopt;
}

Bytes SysEx(std::size_t size, std::uint8_t seed) {
  Bytes message(size);
  for (std::size_t i = 0; i < size; ++i) {
    message[i] = static_cast<std::uint8_t>((seed + i * 7) & 0x7F);
  }
  message.front() = 0xF0;
  message.back() = 0xF7;
  return message;
}

// A device: a virtual input that keeps every message, and a virtual output.
struct Device {
  explicit Device(const std::string& name) : client(name), backend(JackBackend(name)) {}

  void OpenIn() {
    auto opened = backend->OpenVirtualInput("in", [this](std::span<const std::uint8_t> m) {
      received.Push({m.begin(), m.end()});
    });
    ASSERT_EQ(opened.error, MidiError::None);
    in = std::move(opened.port);
  }
  void OpenOut() {
    auto opened = backend->OpenVirtualOutput("out");
    ASSERT_EQ(opened.error, MidiError::None);
    out = std::move(opened.port);
  }

  std::string client;
  std::unique_ptr<RtMidiBackend> backend;
  RawInbox received;
  std::unique_ptr<MidiInput> in;
  std::unique_ptr<MidiOutput> out;
};

TEST(JackMidi, ListsOtherClientsPortsInAStableOrderButNotOurOwn) {
  Device device(Unique("dev"));
  device.OpenIn();
  device.OpenOut();
  auto host = JackBackend(Unique("host"));
  auto hostIn = host->OpenVirtualInput("mine", [](std::span<const std::uint8_t>) {});
  ASSERT_EQ(hostIn.error, MidiError::None);

  const auto outputs = host->ListOutputs();
  const auto inputs = host->ListInputs();
  EXPECT_TRUE(Find(outputs, device.client, "in")) << "device input missing from outputs";
  EXPECT_TRUE(Find(inputs, device.client, "out")) << "device output missing from inputs";
  EXPECT_FALSE(Find(outputs, device.client, "out"));
  for (const auto& port : outputs) {
    EXPECT_EQ(port.name.find(":mine"), std::string::npos) << "own port listed: " << port.name;
  }
  EXPECT_EQ(host->ListOutputs(), outputs);
  EXPECT_EQ(host->ListInputs(), inputs);
  EXPECT_FALSE(IsThroughPort(host->DefaultOutput().name));
  EXPECT_FALSE(host->DefaultOutput().name.empty());
}

struct RoundTrip {
  std::size_t size;
  bool keepOpen;
};

void PrintTo(const RoundTrip& trip, std::ostream* os) {
  *os << trip.size << (trip.keepOpen ? " bytes, kept open" : " bytes, one-shot");
}

class JackSysEx : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(JackSysEx, ArrivesWholeAndInOrder) {
  Device device(Unique("dev"));
  device.OpenIn();
  auto host = JackBackend(Unique("host"));
  host->KeepJackOutputOpen(GetParam().keepOpen);
  const auto port = Find(host->ListOutputs(), device.client, "in");
  ASSERT_TRUE(port);
  for (std::uint8_t seed = 0; seed < 3; ++seed) {
    const Bytes message = SysEx(GetParam().size, seed);
    ASSERT_EQ(host->SendSysEx(*port, message), MidiError::None);
    EXPECT_EQ(device.received.WaitPop(kWatchdog), message) << "message " << int{seed};
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, JackSysEx,
                         ::testing::Values(RoundTrip{14, true}, RoundTrip{1038, true},
                                           RoundTrip{14, false}, RoundTrip{1038, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.size) +
                                  (info.param.keepOpen ? "_kept_open" : "_one_shot");
                         });

TEST(JackMidi, InputDeliversShortMessagesInOrderAndDropsTheRest) {
  Device device(Unique("dev"));
  device.OpenOut();
  auto host = JackBackend(Unique("host"));
  const auto port = Find(host->ListInputs(), device.client, "out");
  ASSERT_TRUE(port);
  MidiInbox inbox;
  auto input = host->OpenInput(*port, [&](std::uint32_t m) { inbox.Push(m); });
  ASSERT_EQ(input.error, MidiError::None);

  const std::vector<Bytes> sent = {{0x90, 0x3C, 0x11},
                                   {0xF0, 0x00, 0x20, 0x63, 0x04, 0xF7},
                                   {0xF8},
                                   {0xFE},
                                   {0xC0, 0x05},
                                   {0xF1, 0x20},
                                   {0xF2, 0x01, 0x02},
                                   {0x90, 0x3C, 0x33},
                                   {0xF6},
                                   {0x80, 0x3C, 0x00}};
  for (const Bytes& message : sent) {
    ASSERT_EQ(device.out->Send(message), MidiError::None);
  }
  const std::vector<std::uint32_t> expected = {0x113C90, 0x05C0, 0x0201F2,
                                               0x333C90, 0xF6,   0x003C80};
  std::vector<std::uint32_t> got;
  // The last message is a short one: once it is in, anything wrongly let through is too.
  while (got.size() < expected.size()) {
    const auto value = inbox.WaitPop(kWatchdog);
    ASSERT_TRUE(value) << "after " << got.size() << " messages";
    got.push_back(*value);
  }
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(inbox.WaitPop(milliseconds{0}));
}

TEST(JackMidi, OpeningAPortThatIsGoneFails) {
  auto host = JackBackend(Unique("host"));
  MidiPortInfo gone{Unique("nobody") + ":out"};
  EXPECT_EQ(host->OpenInput(gone, [](std::uint32_t) {}).error, MidiError::NoSuchPort);
  EXPECT_EQ(host->OpenOutput(gone).error, MidiError::NoSuchPort);
  EXPECT_EQ(host->SendSysEx(gone, SysEx(14, 0)), MidiError::NoSuchPort);
}

class JackVanish : public ::testing::TestWithParam<bool> {};

// The device goes away after one good block: the next send must fail, not hang or pretend;
// when the device comes back under the same name, it gets the next block and nothing older.
TEST_P(JackVanish, SendAfterThePeerVanishedFailsAndLeavesNothingBehind) {
  const std::string client = Unique("dev");
  auto host = JackBackend(Unique("host"));
  host->KeepJackOutputOpen(GetParam());
  MidiPortInfo port;
  {
    Device device(client);
    device.OpenIn();
    const auto found = Find(host->ListOutputs(), client, "in");
    ASSERT_TRUE(found);
    port = *found;
    ASSERT_EQ(host->SendSysEx(port, SysEx(1038, 1)), MidiError::None);
    ASSERT_EQ(device.received.WaitPop(kWatchdog), SysEx(1038, 1));
  }
  EXPECT_EQ(host->SendSysEx(port, SysEx(1038, 2)), MidiError::NoSuchPort);
  EXPECT_EQ(host->SendSysEx(port, SysEx(14, 3)), MidiError::NoSuchPort);

  Device again(client);
  again.OpenIn();
  ASSERT_TRUE(Find(host->ListOutputs(), client, "in"))
      << "device did not come back as " << port.name;
  ASSERT_EQ(host->SendSysEx(port, SysEx(1038, 4)), MidiError::None);
  EXPECT_EQ(again.received.WaitPop(kWatchdog), SysEx(1038, 4));
  EXPECT_FALSE(again.received.WaitPop(milliseconds{0})) << "more than the one block arrived";
}

INSTANTIATE_TEST_SUITE_P(Modes, JackVanish, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kept_open" : "one_shot"; });

class JackPeerLeaves : public ::testing::TestWithParam<bool> {};

// A device that closes its input as soon as a message is in (firmware rebooting after the last
// block): the message was delivered, so the send succeeded. Several rounds, because the close
// races the sender's return.
TEST_P(JackPeerLeaves, MessageDeliveredJustBeforeThePeerClosedCountsAsSent) {
  auto host = JackBackend(Unique("host"));
  host->KeepJackOutputOpen(GetParam());
  for (std::uint8_t round = 0; round < 8; ++round) {
    Device device(Unique("dev"));
    device.OpenIn();
    const auto port = Find(host->ListOutputs(), device.client, "in");
    ASSERT_TRUE(port);
    std::optional<Bytes> arrived;
    std::thread closer([&] {
      arrived = device.received.WaitPop(kWatchdog);
      device.in.reset();
    });
    const Bytes message = SysEx(1038, round);
    const MidiError sent = host->SendSysEx(*port, message);
    closer.join();
    EXPECT_EQ(sent, MidiError::None) << "round " << int{round};
    EXPECT_EQ(arrived, message) << "round " << int{round};
    // Gone now: the next message must not count as sent.
    EXPECT_EQ(host->SendSysEx(*port, SysEx(14, round)), MidiError::NoSuchPort)
        << "round " << int{round};
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, JackPeerLeaves, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kept_open" : "one_shot"; });

TEST(JackMidi, KeptOpenOutputHandsOverInOrderAndReportsAVanishedPeer) {
  auto device = std::make_unique<Device>(Unique("dev"));
  device->OpenIn();
  auto host = JackBackend(Unique("host"));
  const auto port = Find(host->ListOutputs(), device->client, "in");
  ASSERT_TRUE(port);
  auto output = host->OpenOutput(*port);
  ASSERT_EQ(output.error, MidiError::None);
  for (std::uint8_t seed = 0; seed < 20; ++seed) {
    ASSERT_EQ(output.port->Send(SysEx(1038, seed)), MidiError::None);
  }
  for (std::uint8_t seed = 0; seed < 20; ++seed) {
    EXPECT_EQ(device->received.WaitPop(kWatchdog), SysEx(1038, seed)) << int{seed};
  }
  device.reset();
  EXPECT_EQ(output.port->Send(SysEx(14, 0)), MidiError::NoSuchPort);
}

TEST(JackMidi, HandlerIsNeverCalledAfterTheInputIsDestroyed) {
  Device device(Unique("dev"));
  device.OpenOut();
  auto host = JackBackend(Unique("host"));
  const auto port = Find(host->ListInputs(), device.client, "out");
  ASSERT_TRUE(port);
  // A second input on the same port tells when a message has been delivered everywhere.
  MidiInbox control;
  auto witness = host->OpenInput(*port, [&](std::uint32_t m) { control.Push(m); });
  ASSERT_EQ(witness.error, MidiError::None);

  for (int round = 0; round < 5; ++round) {
    std::atomic<bool> destroyed{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
    auto input = host->OpenInput(*port, [&](std::uint32_t) {
      if (destroyed.load()) {
        ++lateCalls;
      }
      ++calls;
      std::this_thread::sleep_for(std::chrono::microseconds{200});  // widen the window
    });
    ASSERT_EQ(input.error, MidiError::None);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
      while (!stop.load()) {
        (void)device.out->Send(Bytes{0x90, 0x3C, 0x33});
        std::this_thread::sleep_for(std::chrono::microseconds{300});
      }
    });
    while (calls.load() < 10) {
      ASSERT_TRUE(control.WaitPop(kWatchdog)) << "no traffic";
    }
    input.port.reset();
    destroyed.store(true);
    stop.store(true);
    sender.join();
    // A last, distinct note: once the witness has it, the closed input would have had it too.
    ASSERT_EQ(device.out->Send(Bytes{0x90, 0x3D, 0x01}), MidiError::None);
    for (;;) {
      const auto value = control.WaitPop(kWatchdog);
      ASSERT_TRUE(value) << "the last note did not arrive";
      if (*value == 0x013D90) {
        break;
      }
    }
    EXPECT_EQ(lateCalls.load(), 0) << "round " << round;
  }
}

}  // namespace
}  // namespace movrin
