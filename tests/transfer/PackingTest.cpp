#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "Packing.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct PackCase {
  const char* name;
  Bytes image;
  Bytes packed;
};

class PackExamples : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackExamples, PacksToExactBytesAndBack) {
  const PackCase& c = GetParam();
  EXPECT_EQ(PackImage(c.image), c.packed);
  const UnpackResult back = UnpackImage(c.packed);
  ASSERT_TRUE(back.ok()) << Describe(back.error);
  EXPECT_EQ(back.image, c.image);
}

INSTANTIATE_TEST_SUITE_P(
    Packing, PackExamples,
    ::testing::Values(
        PackCase{"ShortGroupFlagsFromTheTop", {0x80, 0x01, 0xFF}, {0x50, 0x00, 0x01, 0x7F}},
        PackCase{"WholeGroupLowBytes",
                 {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
                 {0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}},
        PackCase{"WholeGroupAllHigh", Bytes(7, 0xFF), Bytes(8, 0x7F)},
        PackCase{"SingleHighByte", {0x80}, {0x40, 0x00}},
        PackCase{"EightBytesMakeAWholeAndAShortGroup",
                 {0x81, 0x02, 0x83, 0x04, 0x85, 0x06, 0x87, 0x88},
                 {0x55, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x40, 0x08}},
        PackCase{
            "SeventhByteIsLowestFlagBit", {0, 0, 0, 0, 0, 0, 0x80}, {0x01, 0, 0, 0, 0, 0, 0, 0}},
        PackCase{"Empty", {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(Packing, PackedLengthAddsOneFlagBytePerStartedGroup) {
  const struct {
    std::size_t image;
    std::size_t packed;
  } rows[] = {{0, 0},
              {1, 2},
              {6, 7},
              {7, 8},
              {8, 10},
              {14, 16},
              {895, 1023},
              {896, 1024},
              {897, 1026},
              {2688, 3072},
              {7 * 1000, 8 * 1000}};
  for (const auto& row : rows) {
    EXPECT_EQ(PackedLength(row.image), row.packed) << row.image;
    EXPECT_EQ(PackImage(Bytes(row.image, 0xAA)).size(), row.packed) << row.image;
  }
}

// Every length up to 3000, then a few large ones, with random content: the packed form is
// 7-bit clean and unpacks to the original.
TEST(Packing, RandomImagesRoundTrip) {
  std::mt19937 rng(20261206);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::size_t> lengths(3001);
  for (std::size_t n = 0; n <= 3000; ++n) {
    lengths[n] = n;
  }
  for (std::size_t n : {65536u, 1000003u, 7u * 150000u}) {
    lengths.push_back(n);
  }
  for (std::size_t n : lengths) {
    Bytes image(n);
    std::generate(image.begin(), image.end(), [&] { return static_cast<std::uint8_t>(byte(rng)); });
    const Bytes packed = PackImage(image);
    ASSERT_EQ(packed.size(), PackedLength(n));
    ASSERT_TRUE(std::all_of(packed.begin(), packed.end(), [](std::uint8_t b) { return b < 0x80; }))
        << "length " << n;
    const UnpackResult back = UnpackImage(packed);
    ASSERT_TRUE(back.ok()) << "length " << n << ": " << Describe(back.error);
    ASSERT_EQ(back.image, image) << "length " << n;
  }
}

TEST(Packing, LeavesTheImageUntouched) {
  const Bytes image = {0x80, 0xFF, 0x7F, 0x00, 0x81};
  const Bytes copy = image;
  (void)PackImage(image);
  EXPECT_EQ(image, copy);
}

struct MalformedCase {
  const char* name;
  Bytes packed;
  UnpackError error;
  std::size_t offset;
};

class MalformedPacked : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedPacked, IsRefusedWithItsReasonAndNoImage) {
  const MalformedCase& c = GetParam();
  const UnpackResult result = UnpackImage(c.packed);
  EXPECT_EQ(result.error, c.error);
  EXPECT_EQ(result.errorOffset, c.offset);
  EXPECT_TRUE(result.image.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Packing, MalformedPacked,
    ::testing::Values(
        MalformedCase{"HighDataByte", {0x00, 0x01, 0x80}, UnpackError::HighBitSet, 2},
        MalformedCase{"HighFlagByte", {0x80, 0x01}, UnpackError::HighBitSet, 0},
        MalformedCase{"HighByteInSecondGroup",
                      {0, 1, 2, 3, 4, 5, 6, 7, 0x00, 0x90},
                      UnpackError::HighBitSet,
                      9},
        // A short group of two bytes may use only 0x40 and 0x20.
        MalformedCase{"FlagForMissingByte", {0x10, 0x01, 0x02}, UnpackError::FlagForMissingByte, 0},
        MalformedCase{"LowestFlagInShortGroup", {0x01, 0x01}, UnpackError::FlagForMissingByte, 0},
        MalformedCase{"LoneFlagByte", {0x00}, UnpackError::LoneFlagByte, 0},
        MalformedCase{"LoneFlagAfterWholeGroup",
                      {0, 1, 2, 3, 4, 5, 6, 7, 0x00},
                      UnpackError::LoneFlagByte,
                      8}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace movrin
