// Bad image files given to movrin-send, in each of its modes: --info, --export and a real send
// into a JACK port of this test that records whatever reaches it. A bad file ends in exit 1
// with one line that names the file and the reason; nothing is written, nothing is sent.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "MidiInbox.h"
#include "Protocol.h"
#include "RtMidiBackend.h"
#include "RunProgram.h"
#include "TransferStream.h"

namespace movrin::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A virtual device on the fixture's JACK server that records what arrives and answers each
// announce and block as a device would.
class Sink {
 public:
  Sink() : backend_(RtMidiBackend::Create(name, RtMidiBackend::Api::Jack)) {
    output_ = backend_->OpenVirtualOutput("out").port;
    input_ = backend_
                 ->OpenVirtualInput("in",
                                    [this](std::span<const std::uint8_t> m) {
                                      inbox_.Push(Bytes(m.begin(), m.end()));
                                    })
                 .port;
  }
  [[nodiscard]] bool ok() const { return output_ != nullptr && input_ != nullptr; }

  // Every message that arrived until `quiet` passed without one, replying as it goes.
  Bytes Drain(std::chrono::milliseconds quiet) {
    Bytes all;
    while (auto message = inbox_.WaitPop(quiet)) {
      all.insert(all.end(), message->begin(), message->end());
      if (message->size() == kAnnounceSize) {
        EXPECT_EQ(output_->Send(Bytes{0x90, 0x3C, 0x11}), MidiError::None);
      }
      if (!message->empty() && message->front() == kSysExStart) {
        EXPECT_EQ(output_->Send(Bytes{0x90, 0x3C, 0x33}), MidiError::None);
      }
    }
    return all;
  }

  const std::string name = "faults-sink-" + std::to_string(::getpid());

 private:
  RawInbox inbox_;
  std::unique_ptr<MidiBackend> backend_;
  std::unique_ptr<MidiOutput> output_;
  std::unique_ptr<MidiInput> input_;
};

class SendFileFault : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sink_.ok()) << "no JACK server: run through CTest, which starts one";
    char pattern[] = "/tmp/movrin-send-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  ProgramResult Send(std::vector<std::string> args, bool permissionsBind = false) {
    return RunProgram(MOVRIN_SEND_PATH, args, {dir_, permissionsBind});
  }
  std::vector<std::string> Sending(const std::string& image) {
    return {"--out", sink_.name, "--in", sink_.name, "--timeout", "10", image};
  }

  Sink sink_;
  std::string dir_;
};

TEST_F(SendFileFault, BadFilesEndInOneLineAndNothingWrittenOrSent) {
  const std::string image = dir_ + "/x.bin";
  struct BadFile {
    std::function<void()> make;
    const char* reason;  // in the error line, after the file's name
  };
  const BadFile files[] = {
      {[&] { Write(image, Bytes(100, 1)), fs::permissions(image, fs::perms::none); },
       "cannot be opened (Permission denied)"},
      {[&] { fs::create_directory(image); }, "not a regular file"},
      {[&] { fs::create_symlink("/nonexistent/movrin", image); }, "no such file"},
      {[&] { ::mkfifo(image.c_str(), 0644); }, "not a regular file"},
      {[&] { fs::create_symlink("/proc/self/status", image); }, "could not be read completely"},
      {[&] { Write(image, {}); }, "is empty"},
      // Larger than 65535 blocks can carry; sparse, so it costs no disk.
      {[&] { Write(image, {}), fs::resize_file(image, 60'000'000); }, "too large"},
  };
  for (const BadFile& file : files) {
    SCOPED_TRACE(file.reason);
    file.make();
    for (const auto& args :
         {std::vector<std::string>{"--info", image},
          std::vector<std::string>{"--export", dir_ + "/out.syx", image}, Sending(image)}) {
      SCOPED_TRACE(args.front());
      const ProgramResult run = Send(args, true);
      EXPECT_EQ(run.exitCode, 1) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_THAT(run.err, HasSubstr("\"" + image + "\""));
      EXPECT_THAT(run.err, HasSubstr(file.reason));
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "something was written";
    }
    EXPECT_EQ(sink_.Drain(std::chrono::milliseconds(300)), Bytes{}) << "bytes reached the device";
    fs::remove_all(image);
  }
}

// Names are bytes: a name that is not UTF-8 is read, exported and sent as the file it names,
// never as a file whose name decodes alike.
TEST_F(SendFileFault, NamesThatAreNotUtf8AreSentAsTheFileTheyName) {
  const std::string latin1 = dir_ + "/caf\xE9.bin";
  const Bytes image(3000, 7);
  Write(latin1, image);
  Write(dir_ + "/caf\xEF\xBF\xBD.bin", Bytes(5000, 8));
  EXPECT_THAT(Send({"--info", latin1}).out, HasSubstr("size:              3000 bytes"));
  ASSERT_EQ(Send({"--export", dir_ + "/out.syx", latin1}).exitCode, 0);
  std::ifstream exported(dir_ + "/out.syx", std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(exported), {}), TransferStream(image));

  // The sender waits for the device's replies, so the sink serves while it runs.
  auto sending = std::async(std::launch::async, [&] { return Send(Sending(latin1)); });
  Bytes received;
  for (bool done = false; !done;) {
    done = sending.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    const Bytes more = sink_.Drain(std::chrono::milliseconds(done ? 300 : 50));
    received.insert(received.end(), more.begin(), more.end());
  }
  EXPECT_EQ(sending.get().exitCode, 0);
  EXPECT_EQ(received, TransferStream(image));
}

}  // namespace
}  // namespace movrin::test
