// The system backend over a private JACK server (the CTest fixture "jack"): a second backend in
// the same process plays the device, with virtual ports.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "JackInputPort.h"
#include "JackOutputPort.h"
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

// MOVRIN_TEST_MIDI_API=ALSA runs the same tests on the ALSA sequencer (tests/alsa, in a VM).
std::unique_ptr<RtMidiBackend> JackBackend(const std::string& client) {
  const char* wanted = std::getenv("MOVRIN_TEST_MIDI_API");
  const bool alsa = wanted != nullptr && std::string(wanted) == "ALSA";
  auto backend =
      RtMidiBackend::Create(client, alsa ? RtMidiBackend::Api::Alsa : RtMidiBackend::Api::Jack);
  EXPECT_EQ(backend->ApiName(), alsa ? "ALSA" : "JACK") << "is the fixture's server running?";
  return backend;
}

// The port of `client` (or of its "-NN" sibling) called `shortName`; ALSA adds " 130:0".
std::optional<MidiPortInfo> Find(const std::vector<MidiPortInfo>& ports, const std::string& client,
                                 const std::string& shortName) {
  for (const MidiPortInfo& port : ports) {
    const auto colon = port.name.find(':');
    if (port.name.compare(0, client.size(), client) == 0 &&
        port.name.substr(colon + 1, port.name.find(' ', colon) - colon - 1) == shortName) {
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

TEST(JackMidi, VirtualInputPassesWhatTheDeviceNeedsInOrder) {
  Device device(Unique("dev"));
  device.OpenIn();
  auto host = JackBackend(Unique("host"));
  const auto port = Find(host->ListOutputs(), device.client, "in");
  ASSERT_TRUE(port);
  auto output = host->OpenOutput(*port);
  ASSERT_EQ(output.error, MidiError::None);

  const Bytes block = SysEx(1038, 9);
  const std::vector<Bytes> sent = {{0x90, 0x3C, 0x11}, {0xF8},       block,  {0xFE},
                                   {0xF1, 0x20},       {0xC0, 0x05}, {0xF6}, {0x80, 0x3C, 0x00}};
  for (const Bytes& message : sent) {
    ASSERT_EQ(output.port->Send(message), MidiError::None);
  }
  // Timing and active sensing stay out, as they always did for the device.
  const std::vector<Bytes> expected = {
      {0x90, 0x3C, 0x11}, block, {0xC0, 0x05}, {0xF6}, {0x80, 0x3C, 0x00}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(device.received.WaitPop(kWatchdog), expected[i]) << "message " << i;
  }
  EXPECT_FALSE(device.received.WaitPop(milliseconds{0}));
}

// Closing an input while blocks stream in: the process callback must be stopped before the
// port goes, and nothing is handed on after the close returned. Many rounds, because the close
// races JACK's thread.
TEST(JackMidi, VirtualInputClosedWhileBlocksArriveStopsCleanly) {
  auto host = JackBackend(Unique("host"));
  for (int round = 0; round < 20; ++round) {
    Device device(Unique("dev"));
    std::atomic<bool> closed{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
    auto opened =
        device.backend->OpenVirtualInput("in", [&](std::span<const std::uint8_t> /*message*/) {
          if (closed.load()) {
            ++lateCalls;
          }
          ++calls;
        });
    ASSERT_EQ(opened.error, MidiError::None);
    const auto port = Find(host->ListOutputs(), device.client, "in");
    ASSERT_TRUE(port);
    auto output = host->OpenOutput(*port);
    ASSERT_EQ(output.error, MidiError::None);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
      std::uint8_t seed = 0;
      while (!stop.load()) {
        if (output.port->Send(SysEx(1038, seed++)) != MidiError::None) {
          std::this_thread::sleep_for(std::chrono::microseconds{200});
        }
      }
    });
    const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
    while (calls.load() < round % 5 + 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds{100});
    }
    EXPECT_GT(calls.load(), round % 5) << "round " << round << ": no traffic";
    opened.port.reset();
    closed.store(true);
    stop.store(true);
    sender.join();
    EXPECT_EQ(lateCalls.load(), 0) << "round " << round;
  }
}

// A handler that falls behind: what does not fit is dropped and counted, never reordered, and
// the port keeps working.
TEST(JackMidi, InputThatFallsBehindDropsAndCountsButKeepsOrder) {
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  std::vector<std::uint8_t> seeds;
  std::atomic<std::size_t> arrived{0};
  auto input = JackInputPort::Open(Unique("dev"), "in", "", [&](std::span<const std::uint8_t> m) {
    std::unique_lock lock(mutex);
    released.wait_for(lock, kWatchdog, [&] { return go; });
    seeds.push_back(m[1]);
    ++arrived;
  });
  ASSERT_EQ(input.error, MidiError::None);
  auto output = JackOutputPort::Open(Unique("host"), "out", input.port->fullName());
  ASSERT_EQ(output.error, MidiError::None);

  constexpr std::size_t kSent = 200;  // three times what the ring holds
  for (std::size_t i = 0; i < kSent; ++i) {
    ASSERT_EQ(output.port->Send(SysEx(1038, static_cast<std::uint8_t>(i)), milliseconds{5000}),
              MidiError::None)
        << "message " << i;
  }
  {
    std::lock_guard lock(mutex);
    go = true;
  }
  released.notify_all();
  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  while (arrived.load() + input.port->dropped() < kSent &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds{1});
  }
  EXPECT_EQ(arrived.load() + input.port->dropped(), kSent);
  EXPECT_GT(input.port->dropped(), 0u);
  std::lock_guard lock(mutex);
  // SysEx() puts (seed + 7) & 0x7F right after the start byte: what arrived is a subsequence.
  std::size_t next = 0;
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    while (next < kSent && static_cast<std::uint8_t>((next + 7) & 0x7F) != seeds[i]) {
      ++next;
    }
    EXPECT_LT(next, kSent) << "message " << i << " out of order";
    ++next;
  }
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
