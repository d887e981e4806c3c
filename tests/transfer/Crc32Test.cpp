#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Crc32.h"

namespace movrin {
namespace {

std::vector<std::uint8_t> Text(const char* s) {
  return std::vector<std::uint8_t>(s, s + std::strlen(s));
}

TEST(Crc32, MatchesTheZipCheckValuesAlsoAcrossChunks) {
  EXPECT_EQ(Crc32(Text("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32(Text("")), 0x00000000u);
  const auto all = Text("The quick brown fox jumps over the lazy dog");
  EXPECT_EQ(Crc32(all), 0x414FA339u);
  const std::span<const std::uint8_t> bytes(all);
  EXPECT_EQ(Crc32(bytes.subspan(10), Crc32(bytes.first(10))), 0x414FA339u);
}

}  // namespace
}  // namespace movrin
