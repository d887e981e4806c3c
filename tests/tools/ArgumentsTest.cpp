// What the command lines mean; the refusals are run through the programs (CommandLineTest).

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

#include "DeviceArguments.h"
#include "SendArguments.h"

namespace movrin {
namespace {

using std::chrono::milliseconds;

TEST(Arguments, SendAcceptsEachMode) {
  struct Row {
    std::vector<std::string_view> args;
    SendMode mode;
    std::string image{}, exportPath{}, out{}, in{};
    std::optional<milliseconds> timeout = milliseconds(30000);
  };
  const std::vector<Row> rows = {
      {{"a.bin", "--info"}, SendMode::Info, "a.bin"},
      {{"--export=o.syx", "a.bin"}, SendMode::Export, "a.bin", "o.syx"},
      {{"--export", "-", "a.bin"}, SendMode::Export, "a.bin", "-"},
      {{"--list"}, SendMode::List},
      {{"--out", "1", "--in", "dev", "a.bin"}, SendMode::Send, "a.bin", "", "1", "dev"},
      {{"--out=x", "--in=y", "--timeout", "2", "a"},
       SendMode::Send,
       "a",
       "",
       "x",
       "y",
       milliseconds(2000)},
      {{"--out", "x", "--in", "y", "--timeout=0.25", "a"},
       SendMode::Send,
       "a",
       "",
       "x",
       "y",
       milliseconds(250)},
      {{"--out", "x", "--in", "y", "--timeout", "0", "a"},
       SendMode::Send,
       "a",
       "",
       "x",
       "y",
       std::nullopt},
      {{"--info", "--", "-odd.bin"}, SendMode::Info, "-odd.bin"},  // "--" ends the options
  };
  for (const Row& row : rows) {
    const auto result = ParseSendArguments(row.args);
    ASSERT_TRUE(result.arguments) << row.args.front() << ": " << result.error;
    const SendArguments& a = *result.arguments;
    EXPECT_EQ(a.mode, row.mode) << row.args.front();
    EXPECT_EQ(std::tie(a.image, a.exportPath, a.outPort, a.inPort, a.timeout),
              std::tie(row.image, row.exportPath, row.out, row.in, row.timeout))
        << row.args.front();
  }
}

TEST(Arguments, DeviceTakesOptionsAndFaults) {
  const auto result = ParseDeviceArguments(std::vector<std::string_view>{
      "--name", "dev2", "--save=out.bin", "--expect", "a.bin", "--pace", "din", "--noise", "--seed",
      "42", "--duplicate-ready", "--early-request", "--silent-after", "3", "--close-after=0",
      "--once"});
  ASSERT_TRUE(result.arguments) << result.error;
  const DeviceArguments& a = *result.arguments;
  EXPECT_EQ(std::tie(a.name, a.savePath, a.expectPath, a.seed),
            std::make_tuple("dev2", "out.bin", "a.bin", 42u));
  EXPECT_EQ(a.pace, Pace::Din);
  EXPECT_TRUE(a.noise && a.duplicateReady && a.earlyRequest && a.once && !a.help);
  EXPECT_EQ(a.silentAfter, 3);
  EXPECT_EQ(a.closeAfter, 0);

  const auto plain = ParseDeviceArguments(std::vector<std::string_view>{"--pace", "15"});
  ASSERT_TRUE(plain.arguments);
  EXPECT_EQ(plain.arguments->name, "movrin-device");
  EXPECT_EQ(plain.arguments->pace, Pace::Fixed);
  EXPECT_EQ(plain.arguments->fixedDelay, milliseconds(15));
  EXPECT_FALSE(plain.arguments->silentAfter || plain.arguments->once || plain.arguments->noise);
  // A full block message takes 332.16 ms on a DIN cable: 10 bits a byte at 31250 baud.
  EXPECT_EQ(DinWireTime(1038), std::chrono::microseconds(332160));
}

}  // namespace
}  // namespace movrin
