// The built programs, run as a user runs them: exit codes and one-line reasons, an export that
// parses back into the image, and outputs that never destroy what is there.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "Crc32.h"
#include "DeviceSession.h"
#include "Hex32.h"
#include "RunProgram.h"

namespace movrin::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Image(std::size_t n) {
  Bytes image(n);
  std::uint32_t x = static_cast<std::uint32_t>(n) * 2654435761u + 1;
  for (auto& b : image) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "movrin-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return (dir_ / name).string();
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(CommandLine, ExitCodesAndReasons) {
  const std::string d = dir_.string() + "/";
  Write("a.bin", Image(100));
  Write("-odd.bin", Image(100));
  struct Row {
    const char* program;
    std::vector<std::string> args;
    int exitCode;
    std::string says;  // on stderr, or on stdout for exit 0
    std::string names{};
  };
  std::vector<Row> rows = {
      {MOVRIN_SEND_PATH, {"--help"}, 0, "130  interrupted"},
      {MOVRIN_SEND_PATH, {"-h", "--info"}, 0, "4    the device did not answer"},
      {MOVRIN_DEVICE_PATH, {"--help"}, 0, "3  no MIDI system"},
      {MOVRIN_SEND_PATH, {"--info", "--", "-odd.bin"}, 0, "size:              100 bytes"},
      {MOVRIN_SEND_PATH, {"--export=o.syx", "a.bin"}, 0, "wrote 143 bytes to o.syx"},
      {MOVRIN_SEND_PATH, {}, 2, "nothing to do"},
      {MOVRIN_SEND_PATH, {"a.bin"}, 2, "say what to do"},
      {MOVRIN_SEND_PATH, {"--bogus", "a.bin"}, 2, "--bogus"},
      {MOVRIN_SEND_PATH, {"--info"}, 2, "no image given"},
      {MOVRIN_SEND_PATH, {"--info", "a.bin", "b.bin"}, 2, "only one image"},
      {MOVRIN_SEND_PATH, {"--export"}, 2, "--export needs a value"},
      {MOVRIN_SEND_PATH, {"--export", ""}, 2, "no image"},
      {MOVRIN_SEND_PATH, {"--export", "", "a.bin"}, 2, "--export needs a file name"},
      {MOVRIN_SEND_PATH, {"--list=yes"}, 2, "--list takes no value"},
      {MOVRIN_SEND_PATH, {"--list", "a.bin"}, 2, "--list takes no image"},
      {MOVRIN_SEND_PATH, {"--info", "--list", "a.bin"}, 2, "cannot be combined"},
      {MOVRIN_SEND_PATH, {"--info", "--export", "o", "a.bin"}, 2, "cannot be combined"},
      {MOVRIN_SEND_PATH, {"--out", "x", "a.bin"}, 2, "--in PORT is needed"},
      {MOVRIN_SEND_PATH, {"--in", "y", "a.bin"}, 2, "--out PORT is needed"},
      {MOVRIN_SEND_PATH, {"--out", "", "--in", "y", "a.bin"}, 2, "--out PORT is needed"},
      {MOVRIN_SEND_PATH, {"--info", "--timeout", "3", "a.bin"}, 2, "only applies when sending"},
      {MOVRIN_SEND_PATH, {"--out=x", "--in=y", "--timeout", "-3", "a"}, 2, "not \"-3\""},
      {MOVRIN_SEND_PATH, {"--out=x", "--in=y", "--timeout", "nan", "a"}, 2, "not \"nan\""},
      {MOVRIN_DEVICE_PATH, {"--pace", "warp"}, 2, "--pace takes none, din or"},
      {MOVRIN_DEVICE_PATH, {"--pace", "-5"}, 2, "not \"-5\""},
      {MOVRIN_DEVICE_PATH, {"--silent-after", "-1"}, 2, "--silent-after needs a block number"},
      {MOVRIN_DEVICE_PATH, {"--close-after", "x"}, 2, "--close-after needs a block number"},
      {MOVRIN_DEVICE_PATH, {"--seed", "1.5"}, 2, "--seed needs a whole number"},
      {MOVRIN_DEVICE_PATH, {"--once=yes"}, 2, "--once takes no value"},
      {MOVRIN_DEVICE_PATH, {"--name", ""}, 2, "--name needs a value"},
      {MOVRIN_DEVICE_PATH, {"image.bin"}, 2, "image.bin"},
      {MOVRIN_DEVICE_PATH, {"--save", "-"}, 2, "standard output"},
      {MOVRIN_DEVICE_PATH, {"--expect", d + "none.bin"}, 1, "\"" + d + "none.bin\""},
  };
  // Bad images, in each mode: the file is named with the reason, nothing is written or sent.
  Write("empty.bin", {});
  Write("locked.bin", Image(100));
  fs::permissions(dir_ / "locked.bin", fs::perms::none);
  fs::create_directory(dir_ / "folder.bin");
  fs::create_symlink("/nonexistent/movrin", dir_ / "dangling.bin");
  fs::create_symlink("/proc/self/status", dir_ / "lying.bin");
  ::mkfifo((d + "fifo.bin").c_str(), 0644);
  // Larger than 65535 blocks can carry; sparse, so it costs no disk.
  fs::resize_file(Write("huge.bin", {}), 60'000'000);
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"none.bin", "no such file"},
      {"dangling.bin", "no such file"},
      {"locked.bin", "cannot be opened (Permission denied)"},
      {"folder.bin", "not a regular file"},
      {"fifo.bin", "not a regular file"},
      {"lying.bin", "could not be read completely"},
      {"empty.bin", "is empty"},
      {"huge.bin", "too large"},
  };
  for (const auto& [name, reason] : bad) {
    for (auto args : {std::vector<std::string>{"--info"},
                      {"--export", "x.syx"},
                      {"--out", "0", "--in", "0", "--timeout", "1"}}) {
      args.push_back(d + name);
      rows.push_back({MOVRIN_SEND_PATH, args, 1, reason, "\"" + d + name + "\""});
    }
  }
  const auto before = Listing();
  for (const Row& row : rows) {
    const auto run = RunProgram(row.program, row.args, {dir_.string(), true});
    const std::string name = row.args.empty() ? "(none)" : row.args.front();
    EXPECT_EQ(run.exitCode, row.exitCode) << name << ": " << run.err;
    const std::string& text = row.exitCode == 0 ? run.out : run.err;
    EXPECT_NE(text.find(row.says), std::string::npos) << name << ": " << text;
    EXPECT_NE(text.find(row.names), std::string::npos) << name << ": " << text;
    if (row.exitCode != 0) {
      const bool send = row.program == std::string(MOVRIN_SEND_PATH);
      EXPECT_EQ(text.find(send ? "movrin-send: " : "movrin-device: "), 0u) << text;
      EXPECT_EQ(text.find("Usage"), row.exitCode == 2 ? text.find('\n') + 1 : std::string::npos)
          << name << ": usage follows the one-line reason for wrong usage only";
      EXPECT_EQ(run.out, "");
    }
  }
  auto after = before;
  after.push_back("o.syx");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(Listing(), after) << "written or left behind";
}

// Names are bytes: a name that is not UTF-8 is read as the file it names, never as a file whose
// name decodes alike.
TEST_F(CommandLine, ExportParsesBackIntoTheImage) {
  const std::string lookalike = Write("caf\xEF\xBF\xBD.bin", Image(5000));
  for (std::size_t n : {1u, 895u, 896u, 897u, 2688u, 300000u}) {
    const Bytes image = Image(n);
    const std::string bin = Write("caf\xE9.bin", image);
    const std::string syx = (dir_ / "out.syx").string();
    const auto run = RunProgram(MOVRIN_SEND_PATH, {"--export", syx, bin});
    ASSERT_EQ(run.exitCode, 0) << n << ": " << run.err;
    // The device takes it apart: every block in order and whole, and the image it unpacks.
    const Bytes stream = ReadAll(syx);
    DeviceSession device({.expected = image});
    DeviceSession::Output out;
    for (std::size_t start = 0, end = 0; start < stream.size(); start = end + 1) {
      // A count or an index may itself be 0xF7: the end is looked for after the header.
      end = std::find(stream.begin() + std::min(start + 13, stream.size()), stream.end(), 0xF7) -
            stream.begin();
      out = device.OnMessage(
          std::span(stream).subspan(start, std::min(end + 1, stream.size()) - start));
      ASSERT_EQ(out.problem, DeviceSession::Problem::None) << n << ": " << out.text;
    }
    ASSERT_TRUE(out.verdict) << n;
    EXPECT_EQ(out.verdict->identical, true) << n;
    EXPECT_NE(run.out.find("wrote " + std::to_string(stream.size()) + " bytes"), std::string::npos);
    EXPECT_EQ(Listing(),
              (std::vector<std::string>{"caf\xE9.bin", "caf\xEF\xBF\xBD.bin", "out.syx"}));
  }
  // 2688 bytes pack to 3072: exactly three full blocks.
  const Bytes image = Image(2688);
  const auto info = RunProgram(MOVRIN_SEND_PATH, {"--info", Write("caf\xE9.bin", image)});
  EXPECT_EQ(info.exitCode, 0);
  for (const std::string& line : std::vector<std::string>{
           "size:              2688 bytes", "packed length:     3072 bytes", "blocks:            3",
           "last block length: 1024 bytes", "CRC-32:            " + Hex32(Crc32(image))}) {
    EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
  }
}

// The output is never the image itself, a device or pipe is written into and never replaced,
// and a write that fails is a failure.
TEST_F(CommandLine, ExportNeverDestroysWhatIsThere) {
  const Bytes image = Image(5000);
  const std::string bin = Write("image.bin", image);
  const std::string d = dir_.string() + "/";
  fs::create_symlink("image.bin", dir_ / "link.bin");
  fs::create_hard_link(bin, dir_ / "hard.bin");
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(::mkfifo((d + "pipe").c_str(), 0644), 0);
  Write("old.syx", Bytes(9, 1));
  fs::create_symlink("folder/made.syx", dir_ / "dangling");
  // A private copy of /dev/full where the system allows one: a fault must not hit the real one.
  const bool clone = ::mknod((d + "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0 &&
                     std::ofstream(d + "full").is_open();
  const std::string full = clone ? d + "full" : "/dev/full";
  const auto before = Listing();
  const std::string stream =
      RunProgram(MOVRIN_SEND_PATH, {"--export", "-", bin}, {dir_.string()}).out;
  ASSERT_EQ(stream.size(), 5813u);
  struct Row {
    std::string out;
    int exitCode;
    std::string says;
    bool terminal = false;
  };
  const std::vector<Row> rows = {
      {bin, 1, "it is the input file itself"},
      {d + "link.bin", 1, "it is the input file itself"},
      {d + "hard.bin", 1, "it is the input file itself"},
      {d + "folder/../image.bin", 1, "it is the input file itself"},
      {full, 1, "No space left on device"},
      {"-", 1, "cannot write to standard output: it is a terminal", true},
      {d + "folder", 1, "Is a directory"},
      {d + "none/x.syx", 1, "No such file or directory"},
      {d + "old.syx/x.syx", 1, "Not a directory"},
      {d + "dangling", 0, "wrote 5813 bytes"},  // makes the file it names
      {d + "pipe", 0, "wrote 5813 bytes"},
      {d + "old.syx", 0, "wrote 5813 bytes"},
  };
  for (const Row& row : rows) {
    auto reader = std::async(
        std::launch::async, [&] { return row.out.ends_with("pipe") ? ReadAll(row.out) : Bytes{}; });
    const auto run = RunProgram(MOVRIN_SEND_PATH, {"--export", row.out, bin},
                                {.workingDirectory = dir_.string(), .terminalOut = row.terminal});
    EXPECT_EQ(run.exitCode, row.exitCode) << row.out << ": " << run.err;
    EXPECT_NE((run.err + run.out).find(row.says), std::string::npos) << row.out << ": " << run.err;
    if (row.out.ends_with("pipe")) {
      EXPECT_EQ(reader.get(), Bytes(stream.begin(), stream.end()));
    }
    EXPECT_EQ(ReadAll(bin), image) << row.out;
    EXPECT_EQ(Listing(), before) << row.out;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.bin") && fs::is_symlink(dir_ / "dangling"));
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
    EXPECT_TRUE(fs::is_character_file(full));
  }
  EXPECT_EQ(ReadAll(d + "old.syx"), Bytes(stream.begin(), stream.end()));
  EXPECT_EQ(ReadAll(d + "folder/made.syx"), Bytes(stream.begin(), stream.end()));
}

}  // namespace
}  // namespace movrin::test
