#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "DeviceArguments.h"

namespace movrin {
namespace {

DeviceArgumentsResult Parse(std::vector<std::string_view> args) {
  return ParseDeviceArguments(args);
}

TEST(DeviceArguments, ParsesOptionsAndFaults) {
  const auto result =
      Parse({"--name", "dev2", "--save=out.bin", "--expect", "a.bin", "--pace", "din", "--noise",
             "--seed", "42", "--duplicate-ready", "--early-request", "--silent-after", "3",
             "--close-after=0", "--once"});
  ASSERT_TRUE(result.arguments) << result.error;
  const DeviceArguments& a = *result.arguments;
  EXPECT_EQ(a.name, "dev2");
  EXPECT_EQ(a.savePath, "out.bin");
  EXPECT_EQ(a.expectPath, "a.bin");
  EXPECT_EQ(a.pace, Pace::Din);
  EXPECT_TRUE(a.noise);
  EXPECT_EQ(a.seed, 42u);
  EXPECT_TRUE(a.duplicateReady);
  EXPECT_TRUE(a.earlyRequest);
  EXPECT_EQ(a.silentAfter, 3);
  EXPECT_EQ(a.closeAfter, 0);
  EXPECT_TRUE(a.once);

  const auto defaults = Parse({});
  ASSERT_TRUE(defaults.arguments);
  EXPECT_EQ(defaults.arguments->name, "movrin-device");
  EXPECT_EQ(defaults.arguments->pace, Pace::None);
  EXPECT_FALSE(defaults.arguments->silentAfter);
  EXPECT_FALSE(defaults.arguments->once);

  const auto fixed = Parse({"--pace", "15"});
  ASSERT_TRUE(fixed.arguments);
  EXPECT_EQ(fixed.arguments->pace, Pace::Fixed);
  EXPECT_EQ(fixed.arguments->fixedDelay, std::chrono::milliseconds(15));
}

TEST(DeviceArguments, RefusesWrongUsage) {
  const std::vector<std::vector<std::string_view>> rows = {
      {"--pace", "fast"},      {"--pace", "-5"},  {"--pace"},        {"--silent-after", "-1"},
      {"--silent-after", "x"}, {"--close-after"}, {"--seed", "1.5"}, {"--once=yes"},
      {"--name", ""},          {"image.bin"},     {"--verbose"},
  };
  for (const auto& row : rows) {
    const auto result = Parse(row);
    EXPECT_FALSE(result.arguments) << row.front();
    EXPECT_FALSE(result.error.empty()) << row.front();
  }
}

TEST(DeviceArguments, DinPaceIsTenBitsPerByteAt31250Baud) {
  // A full block message: 1038 bytes take 332.16 ms on the cable.
  EXPECT_EQ(DinWireTime(1038), std::chrono::microseconds(332160));
  EXPECT_EQ(DinWireTime(3), std::chrono::microseconds(960));
}

}  // namespace
}  // namespace movrin
