// The system backend over a private JACK server (the CTest fixture "jack"), or over the ALSA
// sequencer with MOVRIN_TEST_MIDI_API=ALSA (in the VM): a second backend in the same process plays
// the device, with virtual ports.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MidiBackend.h"
#include "MidiInbox.h"
#include "MidiSystems.h"

namespace movrin {

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
// Bounded waits that turn a lost message into a failure instead of a hang.
constexpr milliseconds kWatchdog{10000};

std::string Unique(const std::string& stem) {
  static int counter = 0;
  return "movrin-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

bool OnAlsa() {
  const char* api = std::getenv("MOVRIN_TEST_MIDI_API");
  return api != nullptr && std::string(api) == "ALSA";
}

std::unique_ptr<MidiBackend> SystemBackend(const std::string& client,
                                           MidiBackendOptions options = {}) {
  auto backend = CreateMidiBackend(client, OnAlsa() ? MidiSystem::Alsa : MidiSystem::Jack, options);
  EXPECT_EQ(backend->ApiName(), OnAlsa() ? "ALSA" : "JACK")
      << "is JACK_DEFAULT_SERVER set by the fixture?";
  return backend;
}

// A port of a client of ours as listed: each port has a client of its own, which JACK names
// "<client>-01" when the name is taken and ALSA follows with " <client>:<port>" numbers.
MidiPortInfo Listed(const std::vector<MidiPortInfo>& ports, const std::string& client,
                    const std::string& port) {
  for (const MidiPortInfo& listed : ports) {
    const std::string& name = listed.name;
    const auto colon = name.find(':' + port);
    const auto end = colon + port.size() + 1;
    if (colon == std::string::npos || name.rfind(client, 0) != 0 ||
        (end != name.size() && name[end] != ' ')) {
      continue;
    }
    const std::string suffix = name.substr(client.size(), colon - client.size());
    if (suffix.empty() || (suffix.size() > 1 && suffix[0] == '-' &&
                           suffix.find_first_not_of("0123456789", 1) == std::string::npos)) {
      return listed;
    }
  }
  ADD_FAILURE() << client << ":" << port << " is not listed";
  return {};
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
  Device(const std::string& name, MidiBackend& host) : backend(SystemBackend(name)) {
    auto opened = backend->OpenVirtualInput("in", [this](std::span<const std::uint8_t> m) {
      received.Push({m.begin(), m.end()});
    });
    EXPECT_EQ(opened.error, MidiError::None);
    in = std::move(opened.port);
    auto out = backend->OpenVirtualOutput("out");
    EXPECT_EQ(out.error, MidiError::None);
    output = std::move(out.port);
    port = Listed(host.ListOutputs(), name, "in");
    source = Listed(host.ListInputs(), name, "out");
  }

  std::unique_ptr<MidiBackend> backend;
  MidiPortInfo port;    // its input, as the host sees it
  MidiPortInfo source;  // its output
  RawInbox received;
  std::unique_ptr<MidiInput> in;
  std::unique_ptr<MidiOutput> output;
};

class JackSysEx : public ::testing::TestWithParam<bool> {};

// Blocks arrive whole. A device that closes its input as soon as a block is in (firmware
// rebooting after the last block): the block was delivered, so the send succeeded; the next
// send fails, not hangs or pretends. Back under the same name, the device gets its next block
// and nothing older. Several rounds, because the close races the sender's return.
TEST_P(JackSysEx, ArriveWholeAndCountAsSentUntilThePeerCloses) {
  const std::string client = Unique("dev");
  auto host = SystemBackend(Unique("host"), {.keepJackOutputOpen = GetParam()});
  MidiPortInfo source;
  for (std::uint8_t round = 0; round < 8; ++round) {
    Device device(client, *host);
    source = device.source;
    ASSERT_EQ(host->SendSysEx(device.port, SysEx(14, round)), MidiError::None);
    EXPECT_EQ(device.received.WaitPop(kWatchdog), SysEx(14, round)) << "round " << int{round};
    std::optional<Bytes> arrived;
    std::thread closer([&] {
      arrived = device.received.WaitPop(kWatchdog);
      device.in.reset();
    });
    const MidiError sent = host->SendSysEx(device.port, SysEx(1038, round));
    closer.join();
    EXPECT_EQ(sent, MidiError::None) << "round " << int{round};
    EXPECT_EQ(arrived, SysEx(1038, round)) << "round " << int{round};
    EXPECT_EQ(host->SendSysEx(device.port, SysEx(1038, round)), MidiError::NoSuchPort);
    EXPECT_EQ(host->OpenOutput(device.port).error, MidiError::NoSuchPort);
  }
  EXPECT_EQ(host->OpenInput(source, [](std::uint32_t) {}).error, MidiError::NoSuchPort);
}

INSTANTIATE_TEST_SUITE_P(Modes, JackSysEx, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kept_open" : "one_shot"; });

// The ports of another client are listed. One stream of events into both kinds of input: the
// device's virtual input gets every message but timing and active sensing; the sender's input gets
// the short messages as values. A SysEx broken off by a status byte drops out, and what broke it
// off counts.
TEST(JackMidi, InputsDeliverWholeMessagesInOrder) {
  auto host = SystemBackend(Unique("host"));
  Device device(Unique("dev"), *host);
  // Listed in a stable order, each port on its side; our own ports are not listed.
  auto mine = host->OpenVirtualInput("mine", [](std::span<const std::uint8_t>) {});
  const auto outputs = host->ListOutputs();
  const auto inputs = host->ListInputs();
  EXPECT_EQ(std::count(outputs.begin(), outputs.end(), device.port), 1);
  EXPECT_EQ(std::count(inputs.begin(), inputs.end(), device.source), 1);
  EXPECT_EQ(std::count(outputs.begin(), outputs.end(), device.source), 0);
  for (const auto& port : outputs) {
    EXPECT_EQ(port.name.find(":mine"), std::string::npos) << "own port listed: " << port.name;
  }
  EXPECT_EQ(host->ListOutputs(), outputs);
  EXPECT_EQ(host->ListInputs(), inputs);
  EXPECT_FALSE(host->DefaultOutput().name.empty());
  MidiInbox values;
  auto input = host->OpenInput(device.source, [&](std::uint32_t m) { values.Push(m); });
  ASSERT_EQ(input.error, MidiError::None);
  auto toDevice = host->OpenOutput(device.port);
  ASSERT_EQ(toDevice.error, MidiError::None);

  const Bytes block = SysEx(1038, 9);
  std::vector<Bytes> sent = {{0x90, 0x3C, 0x11},
                             {0xF8},
                             block,
                             {0xFE},
                             {0xF0, 0x7D, 0x01},
                             {0x90, 0x3C, 0x33},
                             {0xF1, 0x20},
                             {0xF0, 0x01},
                             {0xF8},
                             {0x02, 0xF7},
                             {0xC0, 0x05},
                             {0xF7},
                             {0xF6},
                             {0x80, 0x3C, 0x00}};
  std::vector<Bytes> raw = {{0x90, 0x3C, 0x11},       block,        {0x90, 0x3C, 0x33},
                            {0xF0, 0x01, 0x02, 0xF7}, {0xC0, 0x05}, {0xF6},
                            {0x80, 0x3C, 0x00}};
  const std::vector<std::uint32_t> expected = {0x113C90, 0x333C90, 0x05C0, 0xF6, 0x003C80};
  if (OnAlsa()) {
    // The sequencer carries whole events only: there is no broken-off SysEx to send there.
    std::erase_if(sent, [](const Bytes& m) {
      return m.front() < 0x80 || m.front() == 0xF7 || (m.front() == 0xF0) != (m.back() == 0xF7);
    });
    std::erase(raw, Bytes{0xF0, 0x01, 0x02, 0xF7});
  }
  for (const Bytes& message : sent) {
    ASSERT_EQ(toDevice.port->Send(message), MidiError::None);
    ASSERT_EQ(device.output->Send(message), MidiError::None);
  }
  for (std::size_t i = 0; i < raw.size(); ++i) {
    EXPECT_EQ(device.received.WaitPop(kWatchdog), raw[i]) << "message " << i;
  }
  // The last message is a short one: once it is in, anything wrongly let through is too.
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(values.WaitPop(kWatchdog), expected[i]) << "value " << i;
  }
  EXPECT_FALSE(device.received.WaitPop(milliseconds{0}));
  EXPECT_FALSE(values.WaitPop(milliseconds{0}));
  device.in.reset();
  EXPECT_EQ(toDevice.port->Send(SysEx(14, 0)), MidiError::NoSuchPort);
}

// Closing an input while blocks stream in: nothing is handed on after the close returned, and
// the process callback never reads what the close freed. Many rounds: the close races JACK.
TEST(JackMidi, InputClosedWhileBlocksArriveStopsCleanly) {
  auto host = SystemBackend(Unique("host"));
  for (int round = 0; round < 20; ++round) {
    const std::string name = Unique("dev");
    auto device = SystemBackend(name);
    std::atomic<bool> closed{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
    auto opened = device->OpenVirtualInput("in", [&](std::span<const std::uint8_t>) {
      lateCalls += closed.load() ? 1 : 0;
      ++calls;
    });
    ASSERT_EQ(opened.error, MidiError::None);
    auto output = host->OpenOutput(Listed(host->ListOutputs(), name, "in"));
    ASSERT_EQ(output.error, MidiError::None);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
      for (std::uint8_t seed = 0; !stop.load(); ++seed) {
        if (output.port->Send(SysEx(1038, seed)) != MidiError::None) {
          std::this_thread::sleep_for(std::chrono::microseconds{200});
        }
      }
    });
    const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
    while (calls.load() <= round % 5 && std::chrono::steady_clock::now() < deadline) {
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

}  // namespace
}  // namespace movrin
