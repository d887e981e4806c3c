// What goes to the ALSA sequencer for each message, checked without a sequencer: every update
// message must travel as one event carrying its bytes unchanged, and must come back unchanged
// from the decoder RtMidi's ALSA input runs on the device side.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AlsaEvents.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What RtMidi's ALSA input does with an incoming event: a decoder that always writes the
// status byte, into a buffer as large as the one our virtual input asks for.
Bytes DecodeLikeRtMidiInput(const snd_seq_event_t& event) {
  snd_midi_event_t* raw = nullptr;
  EXPECT_EQ(snd_midi_event_new(2048, &raw), 0);
  const std::unique_ptr<snd_midi_event_t, decltype(&snd_midi_event_free)> coder(
      raw, &snd_midi_event_free);
  snd_midi_event_init(coder.get());
  snd_midi_event_no_status(coder.get(), 1);
  Bytes buffer(2048);
  const long size =
      snd_midi_event_decode(coder.get(), buffer.data(), static_cast<long>(buffer.size()), &event);
  if (size < 0) {
    return {};
  }
  buffer.resize(static_cast<std::size_t>(size));
  return buffer;
}

// A block whose index is `index`: the payload is cut from the start of `packed`.
Bytes Block(std::int32_t index, std::int32_t length) {
  Bytes packed(static_cast<std::size_t>(index + length));
  for (std::size_t i = 0; i < packed.size(); ++i) {
    packed[i] = static_cast<std::uint8_t>((i * 37 + 11) & 0x7F);
  }
  // A block size of one puts block `index` at offset `index`.
  return BlockMessage(packed, index, length, 1);
}

struct SysExCase {
  std::string name;
  Bytes message;
};

void PrintTo(const SysExCase& row, std::ostream* os) {
  *os << row.name;
}

class AlsaSysEx : public ::testing::TestWithParam<SysExCase> {};

TEST_P(AlsaSysEx, TravelsAsOneEventWithEveryByteUnchanged) {
  const Bytes& message = GetParam().message;
  const auto event = AlsaEventFor(message);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, SND_SEQ_EVENT_SYSEX);
  EXPECT_EQ(event->flags & SND_SEQ_EVENT_LENGTH_MASK, SND_SEQ_EVENT_LENGTH_VARIABLE);
  ASSERT_EQ(event->data.ext.len, message.size());
  const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
  EXPECT_EQ(Bytes(data, data + event->data.ext.len), message);
  EXPECT_EQ(DecodeLikeRtMidiInput(*event), message);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateMessages, AlsaSysEx,
    ::testing::Values(
        SysExCase{"announce_5_blocks", AnnounceMessage(5)},
        // Count bytes that a MIDI stream parser reads as end of SysEx and as System Reset.
        SysExCase{"announce_0xF7FF_blocks", AnnounceMessage(0xF7FF)},
        SysExCase{"announce_0xFFFF_blocks", AnnounceMessage(0xFFFF)},
        SysExCase{"block_0_full", Block(0, 1024)},
        SysExCase{"block_240_index_byte_F0", Block(240, 1024)},
        SysExCase{"block_247_index_byte_F7", Block(247, 1024)},
        SysExCase{"block_248_index_byte_F8", Block(248, 1024)},
        SysExCase{"block_0xF7F7_both_index_bytes_F7", Block(0xF7F7, 1024)},
        SysExCase{"last_block_short", Block(300, 17)},
        SysExCase{"smallest_sysex", Bytes{0xF0, 0xF7}}),
    [](const auto& info) { return info.param.name; });

TEST(AlsaEvents, SysExEventPointsAtTheCallersBytes) {
  // The sender keeps the message alive until the event is written; no copy may go stale.
  const Bytes message = Block(247, 1024);
  const auto event = AlsaEventFor(message);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->data.ext.ptr, static_cast<const void*>(message.data()));
}

struct ShortCase {
  Bytes message;
  snd_seq_event_type_t type;
};

void PrintTo(const ShortCase& row, std::ostream* os) {
  *os << ::testing::PrintToString(row.message);
}

class AlsaShort : public ::testing::TestWithParam<ShortCase> {};

TEST_P(AlsaShort, BecomesItsOwnEventAndDecodesToTheSameBytes) {
  const auto event = AlsaEventFor(GetParam().message);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type, GetParam().type);
  EXPECT_EQ(event->flags & SND_SEQ_EVENT_LENGTH_MASK, SND_SEQ_EVENT_LENGTH_FIXED);
  EXPECT_EQ(DecodeLikeRtMidiInput(*event), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, AlsaShort,
    ::testing::Values(ShortCase{{0x90, 0x3C, 0x11}, SND_SEQ_EVENT_NOTEON},  // device: ready
                      ShortCase{{0x90, 0x3C, 0x33}, SND_SEQ_EVENT_NOTEON},  // device: next
                      ShortCase{{0x9F, 0x7F, 0x7F}, SND_SEQ_EVENT_NOTEON},
                      ShortCase{{0x80, 0x3C, 0x00}, SND_SEQ_EVENT_NOTEOFF},
                      ShortCase{{0xB2, 0x07, 0x64}, SND_SEQ_EVENT_CONTROLLER},
                      ShortCase{{0xC0, 0x05}, SND_SEQ_EVENT_PGMCHANGE},
                      ShortCase{{0xD1, 0x40}, SND_SEQ_EVENT_CHANPRESS},
                      ShortCase{{0xE0, 0x00, 0x40}, SND_SEQ_EVENT_PITCHBEND},
                      ShortCase{{0xF2, 0x01, 0x02}, SND_SEQ_EVENT_SONGPOS},
                      ShortCase{{0xF6}, SND_SEQ_EVENT_TUNE_REQUEST},
                      ShortCase{{0xF8}, SND_SEQ_EVENT_CLOCK}),
    [](const auto& info) {
      std::string name;
      for (const std::uint8_t b : info.param.message) {
        constexpr char kHex[] = "0123456789ABCDEF";
        name += name.empty() ? "" : "_";
        name += kHex[b >> 4];
        name += kHex[b & 0x0F];
      }
      return name;
    });

TEST(AlsaEvents, RefusesWhatIsNotExactlyOneMessage) {
  const std::vector<Bytes> refused = {
      {},
      {0xF0},                                // SysEx cut short
      {0xF0, 0x00, 0x20, 0x63},              // no end byte
      {0xF7},                                // end without a start
      {0x3C, 0x11},                          // data without a status: running status
      {0x90, 0x3C},                          // one data byte missing
      {0x90, 0x3C, 0x11, 0x33},              // one too many
      {0x90, 0x3C, 0x11, 0x90, 0x3C, 0x33},  // two messages
      {0x90, 0x89, 0x11},                    // a status byte where data belongs
      {0xC0, 0x05, 0x06},
      {0xF4},  // undefined statuses
      {0xF9},
  };
  for (const Bytes& message : refused) {
    EXPECT_FALSE(AlsaEventFor(message)) << ::testing::PrintToString(message);
  }
}

struct NameCase {
  std::string name;
  std::optional<AlsaAddress> address;
};

TEST(AlsaEvents, ReadsTheAddressAtTheEndOfAListedName) {
  const std::vector<NameCase> rows = {
      {"Midi Through:Midi Through Port-0 14:0", AlsaAddress{14, 0}},
      {"USB Synth:USB Synth MIDI 1 24:0", AlsaAddress{24, 0}},
      {"movrin-device:in 128:0", AlsaAddress{128, 0}},
      {"odd: name 1:2:in 3:4 130:255", AlsaAddress{130, 255}},
      {"no address at all", std::nullopt},
      {"client:port 14", std::nullopt},
      {"client:port 14:", std::nullopt},
      {"client:port :0", std::nullopt},
      {"client:port 14:0x", std::nullopt},
      {"client:port -1:0", std::nullopt},
      {"client:port 256:0", std::nullopt},
      {"client:port 14:0 ", std::nullopt},
      {"", std::nullopt},
  };
  for (const NameCase& row : rows) {
    EXPECT_EQ(AlsaAddressInName(row.name), row.address) << '"' << row.name << '"';
  }
}

// Ports are opened by the names RtMidi lists them under; ours must be built the same way.
TEST(AlsaEvents, NameAndAddressRoundTrip) {
  const AlsaAddress address{20, 3};
  const std::string name = AlsaPortName("Synth: A", "Port 1 2:3", address);
  EXPECT_EQ(name, "Synth: A:Port 1 2:3 20:3");
  EXPECT_EQ(AlsaAddressInName(name), address);
}

}  // namespace
}  // namespace movrin
