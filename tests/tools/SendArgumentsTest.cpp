#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "SendArguments.h"

namespace movrin {
namespace {

using std::chrono::milliseconds;

SendArgumentsResult Parse(std::vector<std::string_view> args) {
  return ParseSendArguments(args);
}

TEST(SendArguments, AcceptsEachMode) {
  struct Row {
    std::vector<std::string_view> args;
    SendMode mode;
    std::string image, exportPath, out, in;
    std::optional<milliseconds> timeout;
  };
  const std::vector<Row> rows = {
      {{"--info", "a.bin"}, SendMode::Info, "a.bin", "", "", "", milliseconds(30000)},
      {{"a.bin", "--info"}, SendMode::Info, "a.bin", "", "", "", milliseconds(30000)},
      {{"--export", "o.syx", "a.bin"},
       SendMode::Export,
       "a.bin",
       "o.syx",
       "",
       "",
       milliseconds(30000)},
      {{"--export=o.syx", "a.bin"},
       SendMode::Export,
       "a.bin",
       "o.syx",
       "",
       "",
       milliseconds(30000)},
      {{"--list"}, SendMode::List, "", "", "", "", milliseconds(30000)},
      {{"--help"}, SendMode::Help, "", "", "", "", milliseconds(30000)},
      {{"--info", "-h"}, SendMode::Help, "", "", "", "", milliseconds(30000)},
      {{"--out", "1", "--in", "dev", "a.bin"},
       SendMode::Send,
       "a.bin",
       "",
       "1",
       "dev",
       milliseconds(30000)},
      {{"--out=x", "--in=y", "--timeout", "2", "a.bin"},
       SendMode::Send,
       "a.bin",
       "",
       "x",
       "y",
       milliseconds(2000)},
      {{"--out", "x", "--in", "y", "--timeout=0.25", "a.bin"},
       SendMode::Send,
       "a.bin",
       "",
       "x",
       "y",
       milliseconds(250)},
      {{"--out", "x", "--in", "y", "--timeout", "0", "a.bin"},
       SendMode::Send,
       "a.bin",
       "",
       "x",
       "y",
       std::nullopt},
      // "--" lets an image name start with a dash.
      {{"--info", "--", "-odd.bin"}, SendMode::Info, "-odd.bin", "", "", "", milliseconds(30000)},
  };
  for (const Row& row : rows) {
    const auto result = Parse(row.args);
    ASSERT_TRUE(result.arguments) << row.args.front() << ": " << result.error;
    const SendArguments& a = *result.arguments;
    EXPECT_EQ(a.mode, row.mode) << row.args.front();
    if (row.mode == SendMode::Help) {
      continue;
    }
    EXPECT_EQ(a.image, row.image) << row.args.front();
    EXPECT_EQ(a.exportPath, row.exportPath) << row.args.front();
    EXPECT_EQ(a.outPort, row.out) << row.args.front();
    EXPECT_EQ(a.inPort, row.in) << row.args.front();
    EXPECT_EQ(a.timeout, row.timeout) << row.args.front();
  }
}

TEST(SendArguments, RefusesWrongUsageWithAReason) {
  struct Row {
    std::vector<std::string_view> args;
    std::string_view mentions;  // a word the reason must contain
  };
  const std::vector<Row> rows = {
      {{}, "nothing"},
      {{"a.bin"}, "--info"},
      {{"--info"}, "image"},
      {{"--info", "a.bin", "b.bin"}, "one image"},
      {{"--export"}, "--export"},
      {{"--export", "o.syx"}, "image"},
      {{"--info", "--list", "a.bin"}, "combined"},
      {{"--info", "--export", "o.syx", "a.bin"}, "combined"},
      {{"--list", "a.bin"}, "--list"},
      {{"--out", "x", "a.bin"}, "--in"},
      {{"--in", "y", "a.bin"}, "--out"},
      {{"--out", "", "--in", "y", "a.bin"}, "--out"},
      {{"--out", "x", "--in", "y", "--timeout", "-1", "a.bin"}, "--timeout"},
      {{"--out", "x", "--in", "y", "--timeout", "soon", "a.bin"}, "--timeout"},
      {{"--out", "x", "--in", "y", "--timeout", "nan", "a.bin"}, "--timeout"},
      {{"--out", "x", "--in", "y", "--timeout"}, "--timeout"},
      {{"--info", "--timeout", "3", "a.bin"}, "--timeout"},
      {{"--verbose", "a.bin"}, "--verbose"},
      {{"--list=yes"}, "--list"},
  };
  for (const Row& row : rows) {
    const auto result = Parse(row.args);
    EXPECT_FALSE(result.arguments) << (row.args.empty() ? "(none)" : row.args.front());
    EXPECT_NE(result.error.find(row.mentions), std::string::npos)
        << "\"" << result.error << "\" should mention " << row.mentions;
  }
}

}  // namespace
}  // namespace movrin
