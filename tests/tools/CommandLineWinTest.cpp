// movrin-send.exe run as a user runs it: exit codes and one-line reasons, an export whose bytes
// are the wire's exactly (a text-mode stdout would add a CR before each 0x0A), and outputs that
// never destroy the image.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Crc32.h"
#include "Hex32.h"
#include "RunProgram.h"
#include "TransferStream.h"

namespace movrin::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSend = "movrin-send.exe";

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

class CommandLineWin : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("movrin-cli-" + std::to_string(::GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "folder");
    std::ofstream(dir_ / "a.bin", std::ios::binary).write(Text(image_).data(), image_.size());
    std::ofstream(dir_ / "old.syx", std::ios::binary) << "old";
  }
  void TearDown() override { fs::remove_all(dir_); }

  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(kSend, args, {.workingDirectory = dir_.string()});
  }

  fs::path dir_;
  const Bytes image_ = Image(100);
};

TEST_F(CommandLineWin, ExportsTheWireBytesToStandardOutputAndFiles) {
  const Bytes stream = TransferStream(image_);
  ASSERT_NE(std::count(stream.begin(), stream.end(), 0x0A), 0) << "the image must show a CR";
  const ProgramResult piped = Run({"--export", "-", "a.bin"});
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, Text(stream));
  EXPECT_NE(piped.err.find("wrote 143 bytes to -"), std::string::npos) << piped.err;

  for (const char* name : {"new.syx", "old.syx", "NUL"}) {
    const ProgramResult written = Run({"--export", name, "a.bin"});
    EXPECT_EQ(written.exitCode, 0) << name << ": " << written.err;
    EXPECT_NE(written.out.find("announce of 1 block, then block 0"), std::string::npos) << name;
  }
  EXPECT_EQ(ReadAll(dir_ / "new.syx"), stream);
  EXPECT_EQ(ReadAll(dir_ / "old.syx"), stream);
  // Replaced through a temporary that is gone again.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "folder", "new.syx", "old.syx"}));
}

// Every row one run: its exit code and what it says, on stdout or stderr.
TEST_F(CommandLineWin, ExitCodesAndReasons) {
  const std::string absolute = (dir_ / "a.bin").string();
  std::string rooted = absolute.substr(2);  // C:\users\... as /users\..., from the root
  rooted.front() = '/';
  const struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string says;
  } rows[] = {
      {{"-V"}, 0, "movrin-send " MOVRIN_VERSION},
      {{"--help"}, 0, "movrin-send.exe --out \"USB MIDI\" --in \"USB MIDI\" firmware.bin"},
      {{"--info", "a.bin"}, 0, "CRC-32:            " + Hex32(Crc32(Image(100)))},
      {{"--info", absolute}, 0, "size:              100 bytes"},
      {{"--info", rooted}, 0, "size:              100 bytes"},  // not a /option
      {{"--list"}, 0, "MIDI API: WinMM"},
      {{"--info", "missing.bin"}, 1, "missing.bin"},
      {{"--info", "folder"}, 1, "folder"},
      {{"--export", "a.bin", "a.bin"}, 1, "it is the input file itself"},
      {{"--export", absolute, "a.bin"}, 1, "it is the input file itself"},
      {{"--export", "folder", "a.bin"}, 1, "\"folder\": Is a directory"},
      {{"--export", "no\\x.syx", "a.bin"}, 1, "cannot write \"no\\x.syx\": "},
      {{"--out", "no such port", "--in", "none", "a.bin"}, 1, "no such port"},
      {{}, 2, "nothing to do"},
  };
  for (const Row& row : rows) {
    const ProgramResult result = Run(row.args);
    const std::string said = result.out + result.err;
    const std::string command = row.args.empty() ? "(none)" : row.args.front();
    EXPECT_EQ(result.exitCode, row.exitCode) << command << ": " << said;
    EXPECT_NE(said.find(row.says), std::string::npos) << command << ": " << said;
  }
  EXPECT_EQ(ReadAll(dir_ / "a.bin"), image_);
}

}  // namespace
}  // namespace movrin::test
