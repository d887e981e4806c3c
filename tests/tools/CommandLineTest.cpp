// The built programs, run as a user runs them: exit codes, one-line errors that name the file,
// no output file left behind, and an exported transfer that parses back into the image.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Crc32.h"
#include "Hex32.h"
#include "Packing.h"
#include "RunProgram.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::RunProgram;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "movrin-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      names.push_back(entry.path().lexically_relative(dir_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

Bytes Image(std::size_t n) {
  Bytes image(n);
  std::uint32_t x = static_cast<std::uint32_t>(n) * 2654435761u + 1;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return image;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Splits a .syx stream into its messages. The 13 header bytes are skipped before looking for
// the closing 0xF7: a count or an index may itself be 0xF7 (block 247), the payload never is.
std::vector<Bytes> SplitSysEx(const Bytes& stream) {
  std::vector<Bytes> messages;
  std::size_t start = 0;
  while (start < stream.size()) {
    EXPECT_EQ(stream[start], 0xF0) << "at " << start;
    std::size_t end = start + 13;
    while (end < stream.size() && stream[end] != 0xF7) {
      ++end;
    }
    if (end >= stream.size()) {
      ADD_FAILURE() << "message at " << start << " does not end with 0xF7";
      break;
    }
    messages.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start),
                          stream.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    start = end + 1;
  }
  return messages;
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(CommandLine, ExportParsesBackIntoTheImage) {
  for (std::size_t n : {1u, 895u, 896u, 897u, 2688u, 300000u}) {
    const Bytes image = Image(n);
    const fs::path bin = Write("image.bin", image);
    const fs::path syx = dir_ / "out.syx";
    const auto run = RunProgram(MOVRIN_SEND_PATH, {"--export", syx.string(), bin.string()});
    ASSERT_EQ(run.exitCode, 0) << n << ": " << run.err;

    const std::vector<Bytes> messages = SplitSysEx(ReadAll(syx));
    ASSERT_FALSE(messages.empty()) << n;
    const ParsedMessage announce = ParseUpdateMessage(messages[0]);
    ASSERT_TRUE(announce.ok()) << n;
    ASSERT_EQ(announce.kind, MessageKind::Announce) << n;
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(announce.value) + 1) << n;
    Bytes packed;
    for (std::size_t i = 1; i < messages.size(); ++i) {
      const ParsedMessage block = ParseUpdateMessage(messages[i]);
      ASSERT_TRUE(block.ok()) << n << " block " << i - 1 << ": " << Describe(block.error);
      ASSERT_EQ(block.kind, MessageKind::Block);
      ASSERT_EQ(block.value, i - 1);
      if (i + 1 < messages.size()) {
        ASSERT_EQ(block.payload.size(), 1024u) << n << " block " << i - 1;
      }
      packed.insert(packed.end(), block.payload.begin(), block.payload.end());
    }
    const UnpackResult unpacked = UnpackImage(packed);
    ASSERT_TRUE(unpacked.ok()) << n;
    EXPECT_EQ(unpacked.image, image) << n;
    EXPECT_EQ(Listing(), (std::vector<std::string>{"image.bin", "out.syx"})) << n;
  }
}

TEST_F(CommandLine, InfoShowsTheFigures) {
  // 2688 bytes pack to 3072: exactly three full blocks.
  const Bytes image = Image(2688);
  const fs::path bin = Write("image.bin", image);
  const auto run = RunProgram(MOVRIN_SEND_PATH, {"--info", bin.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const std::string& expected : std::vector<std::string>{
           "size:              2688 bytes", "packed length:     3072 bytes", "blocks:            3",
           "last block length: 1024 bytes", "CRC-32:            " + Hex32(Crc32(image))}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << run.out;
  }
}

TEST_F(CommandLine, BadInputIsOneLineNamingTheFileAndLeavesNothingBehind) {
  Write("empty.bin", {});
  Write("good.bin", Image(5000));
  Write("plain", {1});
  fs::create_directory(dir_ / "folder.bin");
  fs::create_directory(dir_ / "out-folder");
  // Larger than 65535 blocks can carry; sparse, so it costs no disk.
  fs::resize_file(Write("huge.bin", {}), 60'000'000);
  const std::string d = dir_.string() + "/";

  struct Row {
    std::vector<std::string> args;
    std::string names;  // the file the message must name
  };
  const std::vector<Row> rows = {
      {{"--info", d + "missing.bin"}, "missing.bin"},
      {{"--info", d + "folder.bin"}, "folder.bin"},
      {{"--info", d + "empty.bin"}, "empty.bin"},
      {{"--info", d + "huge.bin"}, "huge.bin"},
      {{"--export", d + "x.syx", d + "missing.bin"}, "missing.bin"},
      {{"--export", d + "x.syx", d + "empty.bin"}, "empty.bin"},
      {{"--export", d + "no-such-dir/x.syx", d + "good.bin"}, "no-such-dir/x.syx"},
      {{"--export", d + "plain/x.syx", d + "good.bin"}, "plain/x.syx"},
      {{"--export", d + "out-folder", d + "good.bin"}, "out-folder"},
      {{"--out", "0", "--in", "0", d + "missing.bin"}, "missing.bin"},
  };
  const auto before = Listing();
  for (const Row& row : rows) {
    const auto run = RunProgram(MOVRIN_SEND_PATH, row.args);
    EXPECT_EQ(run.exitCode, 1) << row.args.back() << ": " << run.err;
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
    EXPECT_NE(run.err.find(row.names), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(Listing(), before) << "left behind by " << row.args.front();
  }
}

TEST_F(CommandLine, WrongUsageShowsUsageAndExits2) {
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"--bogus"},
      {"--export"},
      {"--info"},
      {"--info", "a.bin", "b.bin"},
      {"--out", "x", "a.bin"},
      {"--out", "x", "--in", "y", "--timeout", "-3", "a.bin"},
  };
  for (const auto& args : rows) {
    const auto run = RunProgram(MOVRIN_SEND_PATH, args);
    EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "(none)" : args.front());
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
  }
  const auto device = RunProgram(MOVRIN_DEVICE_PATH, {"--pace", "warp"});
  EXPECT_EQ(device.exitCode, 2);
  EXPECT_NE(device.err.find("--pace"), std::string::npos) << device.err;
}

TEST_F(CommandLine, HelpDocumentsTheExitCodes) {
  const auto send = RunProgram(MOVRIN_SEND_PATH, {"--help"});
  EXPECT_EQ(send.exitCode, 0);
  EXPECT_NE(send.out.find("Exit status"), std::string::npos);
  const auto device = RunProgram(MOVRIN_DEVICE_PATH, {"--help"});
  EXPECT_EQ(device.exitCode, 0);
  EXPECT_NE(device.out.find("Exit status"), std::string::npos);
}

TEST_F(CommandLine, DeviceRefusesAnUnreadableExpectedImage) {
  const auto run = RunProgram(MOVRIN_DEVICE_PATH, {"--expect", (dir_ / "nope.bin").string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("nope.bin"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace movrin
