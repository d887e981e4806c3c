#include "InMemoryMidiBackend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace movrin {
namespace {

const MidiPortInfo kThrough{"Midi Through:Midi Through Port-0 14:0"};
const MidiPortInfo kSynth{"Synth:In 20:0"};
const MidiPortInfo kDeviceIn{"Device:Out 24:0"};
const std::vector<std::uint8_t> kMessage{0xF0, 0x00, 0x20, 0x63, 0xF7};

TEST(InMemoryMidiBackend, DefaultOutputSkipsThroughPorts) {
  struct Row {
    std::vector<MidiPortInfo> outputs;
    std::string expected;
  };
  const Row rows[] = {
      {{}, ""},
      {{kThrough}, ""},
      {{kThrough, kSynth}, kSynth.name},
      {{kSynth, kThrough}, kSynth.name},
      {{{"a2j:Midi Through [14] (playback): Midi Through Port-0"}, kSynth}, kSynth.name},
  };
  for (const Row& row : rows) {
    InMemoryMidiBackend backend(row.outputs, {});
    EXPECT_EQ(backend.DefaultOutput().name, row.expected);
  }
}

TEST(InMemoryMidiBackend, DeliverReachesTheOpenInputOnlyWhileItIsOpen) {
  InMemoryMidiBackend backend({}, {kDeviceIn});
  std::vector<std::uint32_t> received;
  EXPECT_FALSE(backend.Deliver(0x903C11));
  {
    auto result = backend.OpenInput(kDeviceIn, [&](std::uint32_t m) { received.push_back(m); });
    ASSERT_EQ(result.error, MidiError::None);
    ASSERT_NE(result.port, nullptr);
    EXPECT_EQ(backend.openInputPort(), kDeviceIn);
    EXPECT_TRUE(backend.Deliver(0x113C90));
    EXPECT_TRUE(backend.Deliver(0x333C90));
  }
  EXPECT_FALSE(backend.inputOpen());
  EXPECT_FALSE(backend.Deliver(0x333C90));
  EXPECT_EQ(received, (std::vector<std::uint32_t>{0x113C90, 0x333C90}));
  EXPECT_EQ(backend.inputsOpened(), 1u);
}

TEST(InMemoryMidiBackend, HandlerMayCloseItsOwnInput) {
  InMemoryMidiBackend backend({}, {kDeviceIn});
  OpenInputResult input;
  int calls = 0;
  input = backend.OpenInput(kDeviceIn, [&](std::uint32_t) {
    ++calls;
    input.port.reset();
  });
  ASSERT_EQ(input.error, MidiError::None);
  EXPECT_TRUE(backend.Deliver(0x113C90));
  EXPECT_FALSE(backend.Deliver(0x113C90));
  EXPECT_EQ(calls, 1);
}

TEST(InMemoryMidiBackend, InputMayOutliveTheBackend) {
  OpenInputResult input;
  {
    InMemoryMidiBackend backend({}, {kDeviceIn});
    input = backend.OpenInput(kDeviceIn, [](std::uint32_t) {});
    ASSERT_EQ(input.error, MidiError::None);
  }
  input.port.reset();  // must not touch the backend that is gone (ASan checks)
}

TEST(InMemoryMidiBackend, OpenFailures) {
  InMemoryMidiBackend backend({kSynth}, {kDeviceIn});
  EXPECT_EQ(backend.OpenInput({"Gone:Out"}, [](std::uint32_t) {}).error, MidiError::NoSuchPort);
  backend.FailNextOpen(MidiError::OpenFailed);
  auto failed = backend.OpenInput(kDeviceIn, [](std::uint32_t) {});
  EXPECT_EQ(failed.error, MidiError::OpenFailed);
  EXPECT_EQ(failed.port, nullptr);
  EXPECT_FALSE(backend.inputOpen());
  // Only the next open fails.
  EXPECT_EQ(backend.OpenInput(kDeviceIn, [](std::uint32_t) {}).error, MidiError::None);
  EXPECT_EQ(backend.OpenVirtualInput("in", [](std::span<const std::uint8_t>) {}).error,
            MidiError::Unavailable);
  EXPECT_EQ(backend.OpenOutput(kSynth).error, MidiError::Unavailable);
}

TEST(InMemoryMidiBackend, FailSendsSkipsThenFailsThenRecovers) {
  InMemoryMidiBackend backend({kSynth}, {});
  backend.FailSends(MidiError::DrainTimeout, 2, 1);
  std::vector<MidiError> results;
  for (int i = 0; i < 4; ++i) {
    results.push_back(backend.SendSysEx(kSynth, kMessage));
  }
  EXPECT_EQ(results, (std::vector<MidiError>{MidiError::None, MidiError::DrainTimeout,
                                             MidiError::DrainTimeout, MidiError::None}));
  EXPECT_EQ(backend.sent().size(), 2u);
  EXPECT_EQ(backend.SendSysEx({"Gone:In"}, kMessage), MidiError::NoSuchPort);
  EXPECT_EQ(backend.sent().size(), 2u);
}

TEST(InMemoryMidiBackend, OnSendHookSeesEachRecordedSendAndMayReply) {
  InMemoryMidiBackend backend({kSynth}, {kDeviceIn});
  std::vector<std::uint32_t> replies;
  auto input = backend.OpenInput(kDeviceIn, [&](std::uint32_t m) { replies.push_back(m); });
  backend.OnSend([&](const InMemoryMidiBackend::Sent& sent) {
    EXPECT_EQ(sent.port, kSynth);
    backend.Deliver(0x333C90);
  });
  ASSERT_EQ(backend.SendSysEx(kSynth, kMessage), MidiError::None);
  ASSERT_EQ(backend.sent().size(), 1u);
  EXPECT_EQ(backend.sent()[0].bytes, kMessage);
  EXPECT_EQ(replies, (std::vector<std::uint32_t>{0x333C90}));
  backend.ClearSent();
  EXPECT_TRUE(backend.sent().empty());
}

}  // namespace
}  // namespace movrin
