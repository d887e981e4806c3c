#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Packing.h"
#include "Protocol.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(UpdateMessages, AnnounceCarriesTheCountAsPlainBytes) {
  const struct {
    std::int32_t count;
    Bytes expected;
  } rows[] = {
      {3, {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00, 0x04, 0x00, 0x18, 0x00, 0x03, 0x89, 0xF7}},
      // Not split into 7-bit halves: the low byte goes out as 0xC8.
      {200, {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00, 0x04, 0x00, 0x18, 0x00, 0xC8, 0x89, 0xF7}},
      {0xFFFF,
       {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00, 0x04, 0x00, 0x18, 0xFF, 0xFF, 0x89, 0xF7}},
      // Only the low 16 bits travel.
      {65536 + 5,
       {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00, 0x04, 0x00, 0x18, 0x00, 0x05, 0x89, 0xF7}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(AnnounceMessage(row.count), row.expected) << row.count;
  }
}

TEST(UpdateMessages, BlockWithOnePackedByte) {
  const Bytes packed = PackImage(Bytes{0x80, 0x01, 0xFF});
  const Bytes expected = {0xF0, 0x00, 0x20, 0x63, 0x00, 0x01, 0x00, 0x7F,
                          0x00, 0x18, 0x00, 0x00, 0x89, 0x50, 0xF7};
  EXPECT_EQ(BlockMessage(packed, 0, 1, UPDATE_BLOCK_SIZE), expected);
}

TEST(UpdateMessages, BlockIndexAndPayloadOffset) {
  // 301 blocks' worth of packed bytes whose values tell their block apart.
  Bytes packed(301 * 1024);
  for (std::size_t i = 0; i < packed.size(); ++i) {
    packed[i] = static_cast<std::uint8_t>((i / 1024 + i) & 0x7F);
  }
  const struct {
    std::int32_t index;
    std::uint8_t high;
    std::uint8_t low;
  } rows[] = {{0, 0x00, 0x00}, {200, 0x00, 0xC8}, {300, 0x01, 0x2C}};
  for (const auto& row : rows) {
    const Bytes m = BlockMessage(packed, row.index, 1024, 1024);
    ASSERT_EQ(m.size(), kMaxBlockMessageSize);
    EXPECT_EQ(m[10], row.high) << row.index;
    EXPECT_EQ(m[11], row.low) << row.index;
    EXPECT_EQ(m[12], 0x89);
    EXPECT_EQ(m.back(), kSysExEnd);
    const auto from = packed.begin() + static_cast<std::ptrdiff_t>(row.index) * 1024;
    EXPECT_TRUE(std::equal(m.begin() + 13, m.end() - 1, from)) << row.index;
  }
}

TEST(UpdateMessages, IndexWrapsAt65536) {
  // A block size of 1 keeps the payload of block 65836 small.
  Bytes packed(65536 + 301, 0x00);
  packed.back() = 0x5A;
  const Bytes m = BlockMessage(packed, 65536 + 300, 1, 1);
  ASSERT_EQ(m.size(), 15u);
  EXPECT_EQ(m[10], 0x01);
  EXPECT_EQ(m[11], 0x2C);
  EXPECT_EQ(m[13], 0x5A);
}

TEST(UpdateMessages, ParsesWhatItBuilds) {
  const Bytes announce = AnnounceMessage(0x1234);
  const ParsedMessage a = ParseUpdateMessage(announce);
  ASSERT_TRUE(a.ok()) << Describe(a.error);
  EXPECT_EQ(a.kind, MessageKind::Announce);
  EXPECT_EQ(a.value, 0x1234);

  Bytes packed(2048 + 5);
  for (std::size_t i = 0; i < packed.size(); ++i) {
    packed[i] = static_cast<std::uint8_t>(i % 0x80);
  }
  const Bytes block = BlockMessage(packed, 2, 5, 1024);
  const ParsedMessage b = ParseUpdateMessage(block);
  ASSERT_TRUE(b.ok()) << Describe(b.error);
  EXPECT_EQ(b.kind, MessageKind::Block);
  EXPECT_EQ(b.value, 2);
  EXPECT_EQ(Bytes(b.payload.begin(), b.payload.end()), Bytes(packed.end() - 5, packed.end()));
}

struct BadMessage {
  const char* name;
  Bytes bytes;
  ParseError error;
};

Bytes Announce() {
  return AnnounceMessage(3);
}
Bytes Block(std::size_t payload, std::uint8_t fill = 0x11) {
  const Bytes packed(payload, fill);
  return BlockMessage(packed, 0, static_cast<std::int32_t>(payload), 1024);
}
Bytes With(Bytes m, std::size_t at, std::uint8_t value) {
  m[at] = value;
  return m;
}
Bytes Without(Bytes m, std::size_t at) {
  m.erase(m.begin() + static_cast<std::ptrdiff_t>(at));
  return m;
}

class MalformedMessage : public ::testing::TestWithParam<BadMessage> {};

TEST_P(MalformedMessage, IsRefused) {
  const BadMessage& c = GetParam();
  const ParsedMessage parsed = ParseUpdateMessage(c.bytes);
  EXPECT_EQ(parsed.error, c.error) << Describe(parsed.error);
  EXPECT_TRUE(parsed.payload.empty());
}

INSTANTIATE_TEST_SUITE_P(
    UpdateMessages, MalformedMessage,
    ::testing::Values(
        BadMessage{"Empty", {}, ParseError::TooShort},
        BadMessage{"Truncated", Without(Announce(), 13), ParseError::TooShort},
        BadMessage{"NoSysExStart", With(Announce(), 0, 0x90), ParseError::NotSysEx},
        BadMessage{"MissingEnd", With(Announce(), 13, 0x00), ParseError::Unterminated},
        BadMessage{"WrongManufacturer", With(Announce(), 3, 0x64), ParseError::WrongHeader},
        BadMessage{"MarkerWithoutHighBit", With(Announce(), 12, 0x09), ParseError::WrongHeader},
        BadMessage{"WrongFixedByte", With(Block(4), 9, 0x19), ParseError::WrongHeader},
        BadMessage{"UnknownKind", With(Announce(), 7, 0x7F), ParseError::UnknownKind},
        BadMessage{"LongAnnounce", With(With(Block(1), 5, 0x04), 7, 0x04), ParseError::WrongLength},
        BadMessage{"EmptyBlock", Without(Block(1), 13), ParseError::WrongLength},
        BadMessage{"OversizedBlock", Block(1025), ParseError::WrongLength},
        BadMessage{"HighPayloadByte", With(Block(16), 20, 0x80), ParseError::PayloadHighBit}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace movrin
