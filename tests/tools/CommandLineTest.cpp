// The built programs, run as a user runs them: exit codes and one-line reasons, an export that
// parses back into the image, and outputs that never destroy what is there.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Crc32.h"
#include "Hex32.h"
#include "RunProgram.h"
#include "TransferStream.h"

namespace movrin::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSend = MOVRIN_SEND_PATH;
constexpr const char* kDevice = MOVRIN_DEVICE_PATH;

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What a reader of the pipe `path` gets while `writer` runs. The reader is there first, so the
// writer neither waits nor can a fault that replaces the pipe leave the test waiting.
Bytes ReadPipe(const std::string& path, const std::function<void()>& writer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  writer();
  Bytes got(65536);
  got.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(fd, got.data(), got.size()), 0)));
  ::close(fd);
  return got;
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

// Every row one run: its exit code, and a reason on one line that names the file or option,
// pointing to --help for wrong usage. Nothing is left behind, and an export never
// destroys its image, a link, a device or a pipe.
TEST_F(CommandLine, ExitCodesAndReasons) {
  const std::string d = dir_.string() + "/";
  const Bytes image = Image(100);
  const Bytes stream = TransferStream(image);
  const std::string bin = Write("a.bin", image);
  Write("-odd.bin", image);
  // Names are bytes: one that is not UTF-8 names its own file, not one whose name decodes alike.
  Write("caf\xE9.bin", image);
  Write("caf\xEF\xBF\xBD.bin", Image(5000));
  Write("three.bin", Image(2688));  // packs to 3072 bytes: exactly three full blocks
  Write("one.bin", Image(10));
  Write("old.syx", Bytes(9, 1));
  fs::create_symlink("a.bin", dir_ / "link.bin");
  fs::create_hard_link(bin, dir_ / "hard.bin");
  fs::create_symlink("folder.bin/made.syx", dir_ / "new-link");
  ::mkfifo((d + "pipe").c_str(), 0644);
  // A private copy of /dev/full where the system allows one: a fault must not hit the real one.
  const bool clone = ::mknod((d + "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0 &&
                     std::ofstream(d + "full").is_open();
  const std::string full = clone ? d + "full" : "/dev/full";
  struct Row {
    const char* program;
    std::vector<std::string> args;
    int exitCode;
    std::string says;  // on stdout or stderr
    std::string names{};
    bool terminal = false;
  };
  std::vector<Row> rows = {
      {kSend, {"-h", "--info"}, 0, "4    the device did not answer"},
      {kDevice, {"--help"}, 0, "3  no MIDI system"},
      {kSend, {"-V"}, 0, "movrin-send " MOVRIN_VERSION "\n"},
      {kDevice, {"--version"}, 0, "movrin-device " MOVRIN_VERSION "\n"},
      {kSend, {"--export", "one.syx", "one.bin"}, 0, "announce of 1 block, then block 0\n"},
      {kSend, {"--info", "--", "-odd.bin"}, 0, "size:              100 bytes"},
      {kSend,
       {"--info", "three.bin"},
       0,
       "size:              2688 bytes\npacked length:     3072 bytes\nblocks:            3\n"
       "last block length: 1024 bytes\nCRC-32:            " +
           Hex32(Crc32(Image(2688)))},
      {kSend, {"--export=o.syx", "caf\xE9.bin"}, 0, "wrote 143 bytes to o.syx"},
      {kSend, {"--export", "-", "a.bin"}, 0, "wrote 143 bytes to -"},
      {kSend, {"--export", "old.syx", "a.bin"}, 0, "wrote 143 bytes"},
      {kSend, {"--export", "pipe", "a.bin"}, 0, "wrote 143 bytes"},
      {kSend, {"--export", "new-link", "a.bin"}, 0, "wrote 143 bytes"},  // makes what it names
      {kSend, {"--export", "a.bin", "a.bin"}, 1, "it is the input file itself"},
      {kSend, {"--export", "link.bin", "a.bin"}, 1, "it is the input file itself"},
      {kSend, {"--export", "hard.bin", "a.bin"}, 1, "it is the input file itself"},
      {kSend, {"--export", d + "folder.bin/../a.bin", bin}, 1, "it is the input file itself"},
      {kSend, {"--export", full, "a.bin"}, 1, "No space left on device", "\"" + full + "\""},
      {kSend,
       {"--export", "-", "a.bin"},
       1,
       "write to standard output: it is a terminal",
       "",
       true},
      {kSend, {"--export", "folder.bin", "a.bin"}, 1, "\"folder.bin\": Is a directory"},
      {kSend, {"--export", "no/x.syx", "a.bin"}, 1, "\"no/x.syx\": No such file or directory"},
      {kSend, {"--export", "old.syx/x", "a.bin"}, 1, "\"old.syx/x\": Not a directory"},
      {kSend, {}, 2, "nothing to do"},
      {kSend, {"a.bin"}, 2, "say what to do"},
      {kSend, {"--bogus", "a.bin"}, 2, "--bogus"},
      {kSend, {"--info"}, 2, "no image given"},
      {kSend, {"--info", "a.bin", "b.bin"}, 2, "only one image"},
      {kSend, {"--export"}, 2, "--export needs a value"},
      {kSend, {"--export", "", "a.bin"}, 2, "--export needs a file name"},
      {kSend, {"--list=yes"}, 2, "--list takes no value"},
      {kSend, {"--list", "a.bin"}, 2, "--list takes no image"},
      {kSend, {"--info", "--list", "a.bin"}, 2, "cannot be combined"},
      {kSend, {"--out", "x", "a.bin"}, 2, "--in PORT is needed"},
      {kSend, {"-i", "y", "a.bin"}, 2, "--out PORT is needed"},
      {kSend, {"-l", "a.bin"}, 2, "--list takes no image"},
      {kSend, {"--info", "--timeout", "3", "a.bin"}, 2, "only applies when sending"},
      {kSend, {"-ox", "-iy", "-t", "-3", "a"}, 2, "not \"-3\""},
      {kDevice, {"--pace", "warp"}, 2, "--pace takes none, din or"},
      {kDevice, {"--silent-after", "-1"}, 2, "--silent-after needs a block number"},
      {kDevice, {"--once=yes"}, 2, "--once takes no value"},
      {kDevice, {"--name", ""}, 2, "--name needs a value"},
      {kDevice, {"--save", "-"}, 2, "standard output"},
      {kDevice, {"--expect", "none.bin"}, 1, "\"none.bin\""},
  };
  // Bad images, in each mode: the file is named with the reason, nothing is written or sent.
  Write("empty.bin", {});
  Write("locked.bin", image);
  fs::permissions(dir_ / "locked.bin", fs::perms::none);
  fs::create_directory(dir_ / "folder.bin");
  fs::create_symlink("/nonexistent/movrin", dir_ / "dangling.bin");
  fs::create_symlink("/proc/self/status", dir_ / "lying.bin");
  ::mkfifo((d + "fifo.bin").c_str(), 0644);
  // Larger than 65535 blocks can carry; sparse, so it costs no disk.
  fs::resize_file(Write("huge.bin", {}), 60'000'000);
  for (const auto& [name, reason] : std::vector<std::pair<std::string, std::string>>{
           {"none.bin", "no such file"},
           {"dangling.bin", "no such file"},
           {"locked.bin", "cannot be opened (Permission denied)"},
           {"folder.bin", "not a regular file"},
           {"fifo.bin", "not a regular file"},
           {"lying.bin", "could not be read completely"},
           {"empty.bin", "is empty"},
           {"huge.bin", "too large"}}) {
    for (auto args : {std::vector<std::string>{"--info"},
                      {"--export", "x.syx"},
                      {"--out", "0", "--in", "0", "--timeout", "1"}}) {
      args.push_back(d + name);
      rows.push_back({kSend, args, 1, reason, "\"" + d + name + "\""});
    }
  }
  const auto before = Listing();
  for (const Row& row : rows) {
    const bool pipe = row.args.size() > 1 && row.args[1] == "pipe";
    ProgramResult run;
    const Bytes piped = ReadPipe(d + "pipe", [&] {
      run = RunProgram(row.program, row.args, {dir_.string(), true, row.terminal});
    });
    const std::string name = row.args.empty() ? "(none)" : row.args.front();
    EXPECT_EQ(run.exitCode, row.exitCode) << name << ": " << run.err;
    const std::string text = run.err + run.out;
    EXPECT_NE(text.find(row.says), std::string::npos) << name << ": " << text;
    EXPECT_NE(text.find(row.names), std::string::npos) << name << ": " << text;
    EXPECT_EQ(piped, pipe ? stream : Bytes{});
    if (row.exitCode != 0) {
      const std::string prefix = row.program == kSend ? "movrin-send: " : "movrin-device: ";
      EXPECT_EQ(run.err.find(prefix), 0u);
      EXPECT_FALSE(std::isupper(static_cast<unsigned char>(run.err[prefix.size()]))) << run.err;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << name << ": one line";
      EXPECT_EQ(run.err.ends_with(" --help\n"), row.exitCode == 2)
          << name << ": wrong usage points to --help: " << run.err;
      EXPECT_EQ(run.out, "");
    }
  }
  auto after = before;
  after.insert(after.end(), {"o.syx", "one.syx"});
  std::sort(after.begin(), after.end());
  EXPECT_EQ(Listing(), after) << "written or left behind";
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.bin") && fs::is_symlink(dir_ / "new-link"));
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe") && fs::is_character_file(full));
  EXPECT_EQ(ReadAll(bin), image);
  for (const char* written : {"o.syx", "old.syx", "folder.bin/made.syx"}) {
    EXPECT_EQ(ReadAll(dir_ / written), stream) << written;
  }
  EXPECT_EQ(RunProgram(kSend, {"--export", "-", bin}, {dir_.string()}).out,
            std::string(stream.begin(), stream.end()));
}

TEST_F(CommandLine, ListWithoutAnyMidiSystemFails) {
  if (fs::exists("/dev/snd/seq")) {
    GTEST_SKIP() << "the ALSA sequencer is there";
  }
  ::setenv("JACK_DEFAULT_SERVER", ("movrin-none-" + std::to_string(::getpid())).c_str(), 1);
  ::setenv("JACK_NO_START_SERVER", "1", 1);
  const ProgramResult run = RunProgram(kSend, {"--list"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "movrin-send: no MIDI system could be reached (tried ALSA, JACK and USB)\n");
  EXPECT_EQ(run.out, "");
}

// Every option that --help lists is in the tool's manual page, as a word of its own.
TEST(ManPages, NameEveryOptionThatHelpLists) {
  const std::regex option("(?:^|[^\\w-])(--?[A-Za-z][\\w-]*)");
  for (const char* program : {kSend, kDevice}) {
    const std::string name = fs::path(program).filename().string();
    const ProgramResult help = RunProgram(program, {"--help"}, {});
    std::ifstream in(fs::path(MOVRIN_MAN_DIR) / (name + ".1"));
    std::string page((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(page.empty()) << name;
    page = std::regex_replace(page, std::regex("\\\\-"), "-");
    std::set<std::string> inPage;
    for (std::sregex_iterator it(page.begin(), page.end(), option), end; it != end; ++it) {
      inPage.insert((*it)[1]);
    }
    std::set<std::string> listed;
    for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it) {
      listed.insert((*it)[1]);
      EXPECT_TRUE(inPage.contains((*it)[1])) << name << ": " << (*it)[1];
    }
    EXPECT_GT(listed.size(), 10u) << name << ": " << help.out;
  }
}

}  // namespace
}  // namespace movrin::test
