#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Crc32.h"

namespace movrin {
namespace {

std::vector<std::uint8_t> Text(const char* s) {
  return std::vector<std::uint8_t>(s, s + std::strlen(s));
}

TEST(Crc32, MatchesTheZipCheckValues) {
  EXPECT_EQ(Crc32(Text("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32(Text("")), 0x00000000u);
  EXPECT_EQ(Crc32(Text("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(Crc32, ContinuesAcrossChunks) {
  const auto all = Text("firmware image in two parts");
  const std::span<const std::uint8_t> bytes(all);
  const std::uint32_t first = Crc32(bytes.first(10));
  EXPECT_EQ(Crc32(bytes.subspan(10), first), Crc32(bytes));
}

}  // namespace
}  // namespace movrin
