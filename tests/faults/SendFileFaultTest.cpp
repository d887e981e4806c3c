// Bad image files given to movrin-send, in each of its modes: --info, --export and a real send
// into a JACK port of this test that records whatever reaches it. A bad file ends in exit 1
// with one line that names the file and the reason; nothing is written, nothing is sent.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "FileFaults.h"
#include "MidiInbox.h"
#include "Protocol.h"
#include "RtMidiBackend.h"
#include "RunProgram.h"
#include "TransferStream.h"

namespace movrin::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr milliseconds kQuiet{300};

Bytes Image(std::size_t length, std::uint32_t seed) {
  Bytes image(length);
  for (auto& byte : image) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  return image;
}

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A virtual device on the fixture's JACK server that records what arrives and answers each
// announce and block as a device would.
class Sink {
 public:
  explicit Sink(std::string name) : name_(std::move(name)) {
    backend_ = RtMidiBackend::Create(name_, RtMidiBackend::Api::Jack);
    if (backend_->ApiName() != "JACK") {
      return;
    }
    OpenOutputResult out = backend_->OpenVirtualOutput("out");
    OpenInputResult in = backend_->OpenVirtualInput(
        "in", [this](std::span<const std::uint8_t> m) { inbox_.Push(Bytes(m.begin(), m.end())); });
    output_ = std::move(out.port);
    input_ = std::move(in.port);
  }

  [[nodiscard]] bool ok() const { return output_ != nullptr && input_ != nullptr; }
  [[nodiscard]] const std::string& name() const { return name_; }

  // Every message that arrived until `quiet` passed without one, replying as it goes.
  Bytes Drain(milliseconds quiet) {
    Bytes all;
    while (auto message = inbox_.WaitPop(quiet)) {
      all.insert(all.end(), message->begin(), message->end());
      if (!message->empty() && message->front() == kSysExStart) {
        const Bytes next{0x90, 0x3C, 0x33};
        if (message->size() == kAnnounceSize) {
          const Bytes ready{0x90, 0x3C, 0x11};
          EXPECT_EQ(output_->Send(ready), MidiError::None);
        }
        EXPECT_EQ(output_->Send(next), MidiError::None);
      }
    }
    return all;
  }

 private:
  std::string name_;
  RawInbox inbox_;
  std::unique_ptr<MidiBackend> backend_;
  std::unique_ptr<MidiOutput> output_;
  std::unique_ptr<MidiInput> input_;
};

class SendFileFault : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/movrin-send-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  [[nodiscard]] std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  [[nodiscard]] ProgramResult Send(std::vector<std::string> args, bool permissionsBind = false) {
    if (!permissionsBind) {
      return RunProgram(MOVRIN_SEND_PATH, args, dir_);
    }
    std::string failure;
    const Command command = WithPermissionsBinding(MOVRIN_SEND_PATH, std::move(args), failure);
    if (!failure.empty()) {
      ADD_FAILURE() << failure;
      return {};
    }
    return RunProgram(command.path, command.args, dir_);
  }

  std::string dir_;
};

struct BadFile {
  const char* what;
  std::function<void(const std::string& path)> make;
  const char* reason;  // in the error line, after the file's name
  bool permissionsBind = false;
};

TEST_F(SendFileFault, BadFilesEndInOneLineAndNothingWrittenOrSent) {
  Sink sink("faults-sink-" + std::to_string(::getpid()));
  ASSERT_TRUE(sink.ok()) << "no JACK server: run through CTest, which starts one";

  const BadFile files[] = {
      {"no read permission",
       [](const std::string& p) {
         Write(p, Image(100, 1));
         ASSERT_EQ(::chmod(p.c_str(), 0), 0);
       },
       "cannot be opened \\(Permission denied\\)", true},
      {"a directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); },
       "not a regular file"},
      {"a dangling link",
       [](const std::string& p) { ASSERT_EQ(::symlink("/nonexistent/movrin", p.c_str()), 0); },
       "no such file"},
      {"a pipe nobody writes to",
       [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "not a regular file"},
      {"a file whose size lies",
       [](const std::string& p) { ASSERT_EQ(::symlink("/proc/self/status", p.c_str()), 0); },
       "could not be read completely"},
      {"an empty file", [](const std::string& p) { Write(p, {}); }, "is empty"},
  };
  for (const BadFile& file : files) {
    SCOPED_TRACE(file.what);
    const std::string image = Path("x.bin");
    file.make(image);
    struct Mode {
      const char* name;
      std::vector<std::string> args;
    };
    const Mode modes[] = {
        {"--info", {"--info", image}},
        {"--export", {"--export", Path("out.syx"), image}},
        {"send", {"--out", sink.name(), "--in", sink.name(), "--timeout", "5", image}},
    };
    for (const Mode& mode : modes) {
      SCOPED_TRACE(mode.name);
      const ProgramResult run = Send(mode.args, file.permissionsBind);
      EXPECT_EQ(run.exitCode, 1) << run.err;
      EXPECT_EQ(Lines(run.err), 1u) << run.err;
      EXPECT_THAT(run.err, ::testing::HasSubstr("\"" + image + "\"")) << "the file is named";
      EXPECT_THAT(run.err, ::testing::ContainsRegex(file.reason));
      EXPECT_TRUE(run.out.empty()) << run.out;
      EXPECT_FALSE(fs::exists(Path("out.syx"))) << "an export file was written";
      EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
          << "something was left beside the image";
    }
    EXPECT_TRUE(sink.Drain(kQuiet).empty()) << "bytes reached the device";
    std::error_code ec;
    fs::permissions(image, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove(image, ec);
  }
}

// Names are bytes: a name that is not UTF-8 is read, exported and sent as the file it names,
// never as a file whose name decodes alike.
TEST_F(SendFileFault, NamesThatAreNotUtf8AreSentAsTheFileTheyName) {
  Sink sink("faults-sink-" + std::to_string(::getpid()));
  ASSERT_TRUE(sink.ok()) << "no JACK server: run through CTest, which starts one";
  const std::string latin1 = Path("caf\xE9.bin");
  const std::string lookalike = Path("caf\xEF\xBF\xBD.bin");
  const Bytes image = Image(3000, 7);
  Write(latin1, image);
  Write(lookalike, Image(5000, 8));

  const ProgramResult info = Send({"--info", latin1});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_THAT(info.out, ::testing::HasSubstr("3000")) << "the size of the file named";

  const ProgramResult exported = Send({"--export", Path("out.syx"), latin1});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(Read(Path("out.syx")), TransferStream(image));

  // The sender waits for the device's replies, so the sink serves while it runs.
  auto sending = std::async(std::launch::async, [&] {
    return Send({"--out", sink.name(), "--in", sink.name(), "--timeout", "10", latin1});
  });
  Bytes received;
  while (sending.wait_for(milliseconds(0)) != std::future_status::ready) {
    const Bytes more = sink.Drain(milliseconds(50));
    received.insert(received.end(), more.begin(), more.end());
  }
  const Bytes rest = sink.Drain(kQuiet);
  received.insert(received.end(), rest.begin(), rest.end());
  const ProgramResult sent = sending.get();
  EXPECT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_EQ(received, TransferStream(image));
}

}  // namespace
}  // namespace movrin::test
