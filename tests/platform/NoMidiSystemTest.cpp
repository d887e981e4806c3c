// With no ALSA sequencer and no JACK server the program must still start: no ports, clean
// errors, and not one byte on the terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "MidiBackend.h"

namespace movrin {
namespace {

// Points fds 1 and 2 at a file while alive; returns what was written.
class CapturedOutput {
 public:
  CapturedOutput() : file_(std::tmpfile()), savedOut_(dup(1)), savedErr_(dup(2)) {
    std::fflush(nullptr);
    dup2(fileno(file_), 1);
    dup2(fileno(file_), 2);
  }
  ~CapturedOutput() {
    Restore();
    std::fclose(file_);
  }
  std::string Restore() {
    std::fflush(nullptr);
    if (savedOut_ >= 0) {
      dup2(savedOut_, 1);
      dup2(savedErr_, 2);
      close(savedOut_);
      close(savedErr_);
      savedOut_ = savedErr_ = -1;
    }
    std::string text;
    std::rewind(file_);
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
      text.push_back(static_cast<char>(c));
    }
    return text;
  }

 private:
  std::FILE* file_;
  int savedOut_;
  int savedErr_;
};

TEST(NoMidiSystem, BackendHasNoPortsFailsCleanlyAndPrintsNothing) {
  if (access("/dev/snd/seq", R_OK | W_OK) == 0) {
    GTEST_SKIP() << "this machine has an ALSA sequencer";
  }
  setenv("JACK_DEFAULT_SERVER", ("movrin-nobody-" + std::to_string(getpid())).c_str(), 1);
  CapturedOutput captured;
  std::string api;
  bool listsEmpty = false;
  MidiError send{};
  MidiError open{};
  MidiError virtualIn{};
  MidiError virtualOut{};
  {
    auto backend = CreateSystemMidiBackend("movrin-quiet");
    api = backend->ApiName();
    listsEmpty = backend->ListOutputs().empty() && backend->ListInputs().empty() &&
                 backend->DefaultOutput().name.empty();
    const std::uint8_t message[] = {0xF0, 0x7E, 0xF7};
    send = backend->SendSysEx({"some:port"}, message);
    open = backend->OpenInput({"some:port"}, [](std::uint32_t) {}).error;
    virtualIn = backend->OpenVirtualInput("in", [](std::span<const std::uint8_t>) {}).error;
    virtualOut = backend->OpenVirtualOutput("out").error;
  }
  const std::string printed = captured.Restore();
  EXPECT_EQ(printed, "");
  EXPECT_EQ(api, "none");
  EXPECT_TRUE(listsEmpty);
  EXPECT_EQ(send, MidiError::Unavailable);
  EXPECT_EQ(open, MidiError::Unavailable);
  EXPECT_EQ(virtualIn, MidiError::Unavailable);
  EXPECT_EQ(virtualOut, MidiError::Unavailable);
}

}  // namespace
}  // namespace movrin
