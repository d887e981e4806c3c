// The MIDI layer without a MIDI system: how incoming events become messages and values, what
// goes to the ALSA sequencer for each outgoing message, and the backend when there is no MIDI
// system at all.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AlsaEvents.h"
#include "MidiBackend.h"
#include "MidiInbox.h"
#include "MidiParser.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A block of 16 packed bytes whose index is `index`.
Bytes Block(std::int32_t index) {
  const Bytes packed(static_cast<std::size_t>(index) + 16, 0x15);
  return BlockMessage(packed, index, 16, 1);
}

std::vector<Bytes> Parse(const std::vector<Bytes>& events, std::size_t longest = 64) {
  MidiParser parser(longest);
  std::vector<Bytes> messages;
  for (const Bytes& event : events) {
    parser.Feed(
        event, [&](std::span<const std::uint8_t> m) { messages.emplace_back(m.begin(), m.end()); });
  }
  return messages;
}

TEST(MidiParser, AStatusByteEndsASysExButBytesInsideOneStay) {
  struct Row {
    std::vector<Bytes> events;
    std::vector<Bytes> messages;
  };
  const Bytes note{0x90, 0x3C, 0x33};
  const Bytes announce = AnnounceMessage(0xF7F8);  // header bytes 0x89, 0xF7, 0xF8
  const Row rows[] = {
      {{{0xF0, 0x7D, 0x01}, note}, {note}},              // broken off by a note
      {{{0xF0, 0x7D, 0x01}, announce}, {announce}},      // ... by the next SysEx
      {{{0xF0, 0x7D, 0x01, 0x90, 0x3C, 0x33}}, {note}},  // joined by RtMidi
      {{{0xF0, 0x01}, {0xF8}, {0x02, 0xF7}}, {{0xF8}, {0xF0, 0x01, 0x02, 0xF7}}},
      {{{0xF0, 0x01}, {0xF7}}, {{0xF0, 0x01, 0xF7}}},                  // the end on its own
      {{{0xF7}, note}, {note}},                                        // a lone end
      {{{0x3C, 0x11}, {0xC0, 0x05}, {0xF6}}, {{0xC0, 0x05}, {0xF6}}},  // stray data
      {{announce, Block(247)}, {announce, Block(247)}},
      {{Bytes(80, 0x01), note}, {note}},  // data only
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Parse(row.events, 2048), row.messages) << ::testing::PrintToString(row.events);
  }
  // Longer than the parser keeps: dropped with the rest of it, and the next message counts.
  Bytes longer(100, 0x01);
  longer.front() = 0xF0;
  EXPECT_EQ(Parse({Bytes(longer.begin(), longer.begin() + 60),
                   {0x01, 0x01, 0x01, 0x01, 0x01},
                   {0x02, 0xF7},
                   note}),
            std::vector<Bytes>{note});
}

TEST(ShortMessageValue, PacksWhatTheInputDeliversAndDropsTheRest) {
  const std::pair<Bytes, std::optional<std::uint32_t>> rows[] = {
      {{0x90, 0x3C, 0x11}, 0x113C90},
      {{0x8F, 0x7F, 0x7F}, 0x7F7F8F},
      {{0xC0, 0x05}, 0x05C0},
      {{0xF2, 0x01, 0x02}, 0x0201F2},
      {{0xF3, 0x07}, 0x07F3},
      {{0xF6}, 0xF6},
      {{}, std::nullopt},
      {{0xF0, 0x7E, 0xF7}, std::nullopt},
      {{0xF7}, std::nullopt},
      {{0xF1, 0x10}, std::nullopt},
      {{0xF8}, std::nullopt},
      {{0xFE}, std::nullopt},
      {{0xF4}, std::nullopt},
      {{0x3C, 0x11}, std::nullopt},
      {{0x90, 0x3C, 0x11, 0x00}, std::nullopt},
      {{0x90, 0x90, 0x11}, std::nullopt},
  };
  for (const auto& [bytes, value] : rows) {
    EXPECT_EQ(ShortMessageValue(bytes), value) << ::testing::PrintToString(bytes);
  }
}

// What RtMidi's ALSA input does with an incoming event: a decoder that always writes the
// status byte, into a buffer as large as the one our virtual input asks for.
Bytes DecodeLikeRtMidiInput(const snd_seq_event_t& event) {
  snd_midi_event_t* raw = nullptr;
  EXPECT_EQ(snd_midi_event_new(2048, &raw), 0);
  const std::unique_ptr<snd_midi_event_t, decltype(&snd_midi_event_free)> coder(
      raw, &snd_midi_event_free);
  snd_midi_event_no_status(coder.get(), 1);
  Bytes buffer(2048);
  const long size =
      snd_midi_event_decode(coder.get(), buffer.data(), static_cast<long>(buffer.size()), &event);
  buffer.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
  return buffer;
}

TEST(AlsaEvents, EachMessageIsOneEventWithEveryByteUnchanged) {
  struct Row {
    Bytes message;
    snd_seq_event_type_t type;
  };
  const Row rows[] = {
      // Header bytes that a MIDI stream parser reads as end of SysEx and as real-time.
      {AnnounceMessage(5), SND_SEQ_EVENT_SYSEX},
      {AnnounceMessage(0xF7FF), SND_SEQ_EVENT_SYSEX},
      {AnnounceMessage(0xFFFF), SND_SEQ_EVENT_SYSEX},
      {Block(240), SND_SEQ_EVENT_SYSEX},
      {Block(247), SND_SEQ_EVENT_SYSEX},
      {Block(0xF7F8), SND_SEQ_EVENT_SYSEX},
      {{0xF0, 0xF7}, SND_SEQ_EVENT_SYSEX},
      {{0x90, 0x3C, 0x11}, SND_SEQ_EVENT_NOTEON},
      {{0x90, 0x3C, 0x33}, SND_SEQ_EVENT_NOTEON},
      {{0x80, 0x3C, 0x00}, SND_SEQ_EVENT_NOTEOFF},
      {{0xB2, 0x07, 0x64}, SND_SEQ_EVENT_CONTROLLER},
      {{0xC0, 0x05}, SND_SEQ_EVENT_PGMCHANGE},
      {{0xE0, 0x00, 0x40}, SND_SEQ_EVENT_PITCHBEND},
      {{0xF6}, SND_SEQ_EVENT_TUNE_REQUEST},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(
        std::span(row.message).first(std::min<std::size_t>(row.message.size(), 3))));
    const auto event = AlsaEventFor(row.message);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type, row.type);
    if (row.type == SND_SEQ_EVENT_SYSEX) {
      EXPECT_EQ(event->flags & SND_SEQ_EVENT_LENGTH_MASK, SND_SEQ_EVENT_LENGTH_VARIABLE);
      EXPECT_EQ(event->data.ext.len, row.message.size());
    }
    EXPECT_EQ(DecodeLikeRtMidiInput(*event), row.message);
  }
  const Bytes refused[] = {{},           {0xF0},       {0xF0, 0x00, 0x20},       {0xF7},
                           {0x3C, 0x11}, {0x90, 0x3C}, {0x90, 0x3C, 0x11, 0x33}, {0x90, 0x89, 0x11},
                           {0xF4}};
  for (const Bytes& message : refused) {
    EXPECT_FALSE(AlsaEventFor(message)) << ::testing::PrintToString(message);
  }
}

TEST(AlsaEvents, PortNamesEndInTheirAddress) {
  const std::pair<std::string, std::optional<AlsaAddress>> rows[] = {
      {"odd: name 1:2:in 3:4 130:255", AlsaAddress{130, 255}},
      {"no address", std::nullopt},
      {"client:port 14:0x", std::nullopt},
      {"client:port 256:0", std::nullopt},
  };
  for (const auto& [name, address] : rows) {
    EXPECT_EQ(AlsaAddressInName(name), address) << '"' << name << '"';
  }
  const std::string name = AlsaPortName("Synth: A", "Port 1 2:3", AlsaAddress{20, 3});
  EXPECT_EQ(name, "Synth: A:Port 1 2:3 20:3");
  EXPECT_EQ(AlsaAddressInName(name), (AlsaAddress{20, 3}));
}

// With no ALSA sequencer and no JACK server the program must still start: no ports, clean
// errors, and not one byte on the terminal.
// A deadline already passed still hands out what is queued, in order; an interrupt wins over
// queued items, also for a wait without a deadline.
TEST(MidiInbox, PopsUntilTheDeadlineAndStopsOnInterrupt) {
  using Clock = std::chrono::steady_clock;
  MidiInbox inbox;
  inbox.Push(1);
  inbox.Push(2);
  EXPECT_EQ(inbox.WaitPopUntil(Clock::time_point{}), 1u);
  EXPECT_EQ(inbox.WaitPopUntil(Clock::time_point{}), 2u);
  EXPECT_EQ(inbox.WaitPopUntil(Clock::time_point{}), std::nullopt);
  inbox.Push(3);
  inbox.Interrupt();
  EXPECT_EQ(inbox.WaitPopUntil(Clock::time_point::max()), std::nullopt);
}

TEST(NoMidiSystem, BackendHasNoPortsFailsCleanlyAndPrintsNothing) {
  if (access("/dev/snd/seq", R_OK | W_OK) == 0) {
    GTEST_SKIP() << "this machine has an ALSA sequencer";
  }
  setenv("JACK_DEFAULT_SERVER", ("movrin-nobody-" + std::to_string(getpid())).c_str(), 1);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  auto backend = CreateSystemMidiBackend("movrin-quiet");
  EXPECT_EQ(backend->ApiName(), "none");
  EXPECT_FALSE(backend->HasSystem());
  EXPECT_TRUE(backend->ListOutputs().empty() && backend->ListInputs().empty());
  EXPECT_EQ(backend->DefaultOutput().name, "");
  EXPECT_EQ(backend->SendSysEx({"some:port"}, Bytes{0xF0, 0x7E, 0xF7}), MidiError::Unavailable);
  EXPECT_EQ(backend->OpenInput({"some:port"}, [](std::uint32_t) {}).error, MidiError::Unavailable);
  EXPECT_EQ(backend->OpenVirtualInput("in", [](std::span<const std::uint8_t>) {}).error,
            MidiError::Unavailable);
  EXPECT_EQ(backend->OpenVirtualOutput("out").error, MidiError::Unavailable);
  backend.reset();
  EXPECT_EQ(::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr(),
            "");
}

}  // namespace
}  // namespace movrin
