#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "DeviceSession.h"
#include "InMemoryMidiBackend.h"
#include "Packing.h"
#include "Protocol.h"
#include "RunProgram.h"
#include "TransferRunner.h"
#include "TransferStream.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using test::Bytes;
using test::Image;
using Result = TransferRunner::Result;
using std::chrono::milliseconds;

const MidiPortInfo kOut{"device:in"};
const MidiPortInfo kIn{"device:out"};

// The in-memory backend with a DeviceSession behind it, whose replies come back on the input
// during the send, as from a quick device.
struct Rig {
  explicit Rig(DeviceSession::Options device = {}) : backend({kOut}, {kIn}), device(device) {
    backend.OnSend([this](const InMemoryMidiBackend::Sent& sent) {
      const auto parsed = ParseUpdateMessage(sent.bytes);
      if (parsed.kind == MessageKind::Block) {
        blocks.push_back(parsed.value);
        if (parsed.value == 1 && goneAfterBlock1) {
          goneAfterBlock1(*this);
        }
        if (parsed.value == 2 && interruptAtBlock2) {
          runner->Interrupt();  // the request for block 3 is already queued behind it
        }
      }
      const auto out = answering ? this->device.OnMessage(sent.bytes) : DeviceSession::Output{};
      verdict = out.verdict ? out.verdict : verdict;
      for (const auto& r : out.replies) {
        backend.Deliver(ShortMessage(r[0], r[1], r.size() > 2 ? r[2] : 0));
      }
      for (std::uint32_t stray : strays) {
        backend.Deliver(stray);
      }
    });
    options = {kOut, kIn, milliseconds(5000), milliseconds(0)};
  }

  InMemoryMidiBackend backend;
  DeviceSession device;
  TransferRunner::Options options;
  TransferRunner* runner = nullptr;
  bool answering = true;
  bool interruptAtBlock2 = false;
  std::vector<std::uint32_t> strays;  // delivered after every send
  std::function<void(Rig&)> goneAfterBlock1;
  std::vector<int> blocks;  // block indexes in the order they were sent
  std::optional<DeviceSession::Verdict> verdict;
};

std::vector<int> Sequence(std::int64_t count) {
  std::vector<int> v(static_cast<std::size_t>(count));
  std::iota(v.begin(), v.end(), 0);
  return v;
}

TEST(TransferRunner, DeliversEveryBlockOnceAndInOrder) {
  // Packed 2, 1023, 1024, 1025 and 3072 bytes, then every mix of the device's faults.
  std::vector<std::pair<std::size_t, int>> rows = {{1, 0},   {895, 0},  {896, 0},
                                                   {897, 0}, {2688, 0}, {300000, 0}};
  for (int faults = 1; faults < 8; ++faults) {
    rows.push_back({20000, faults});
  }
  for (const auto& [n, faults] : rows) {
    Rig rig({.duplicateReady = (faults & 1) != 0,
             .earlyRequest = (faults & 2) != 0,
             .noise = (faults & 4) != 0,
             .seed = static_cast<std::uint32_t>(n + faults)});
    TransferRunner runner(rig.backend, rig.options);
    std::vector<std::int64_t> progress;
    std::int64_t started = -1;
    const auto report =
        runner.Run(Image(n), {[&](std::int64_t blocks, std::int64_t) { started = blocks; },
                              [&](std::int64_t sent, std::int64_t) { progress.push_back(sent); }});
    const auto blocks = static_cast<std::int64_t>((PackedLength(n) + 1023) / 1024);
    EXPECT_EQ(report.result, Result::Completed) << n << " faults " << faults;
    EXPECT_EQ(std::tie(report.blocksSent, report.blockCount, started),
              std::tie(blocks, blocks, blocks));
    EXPECT_EQ(rig.blocks, Sequence(blocks)) << n;
    EXPECT_EQ(std::ssize(progress), blocks);
    EXPECT_EQ(progress.back(), blocks);
    EXPECT_EQ(rig.backend.sent().front().bytes, AnnounceMessage(static_cast<int>(blocks)));
    Bytes wire;  // and an export holds exactly what went out
    for (const auto& sent : rig.backend.sent()) {
      wire.insert(wire.end(), sent.bytes.begin(), sent.bytes.end());
    }
    EXPECT_EQ(wire, TransferStream(Image(n))) << n;
    ASSERT_TRUE(rig.verdict) << n;
    EXPECT_EQ(rig.verdict->image, Image(n)) << n;
    EXPECT_FALSE(rig.backend.inputOpen()) << n;
  }
}

TEST(TransferRunner, StopsAtTheFirstFaultAndSaysWhy) {
  struct Row {
    const char* name;
    std::function<void(Rig&)> setup;
    Result result;
    std::int64_t blocksSent;
    bool ready;
    MidiError error = MidiError::None;
    std::string gonePort = "";
  };
  const auto gone = [](bool output) {
    return [output](Rig& r) {
      r.options.portCheckInterval = milliseconds(5);
      r.options.timeout = milliseconds(60000);  // the watchdog, not the expected end
      r.goneAfterBlock1 = [output](Rig& rig) {
        rig.answering = false;
        output ? rig.backend.SetOutputs({}) : rig.backend.SetInputs({});
      };
    };
  };
  const std::vector<Row> rows = {
      {"block 4 fails", [](Rig& r) { r.backend.FailSends(MidiError::SendFailed, 1, 5); },
       Result::BlockSendFailed, 4, true, MidiError::SendFailed},
      {"announce fails", [](Rig& r) { r.backend.FailSends(MidiError::NoSuchPort, 1, 0); },
       Result::AnnounceFailed, 0, false, MidiError::NoSuchPort},
      {"input fails", [](Rig& r) { r.backend.FailNextOpen(MidiError::OpenFailed); },
       Result::InputOpenFailed, 0, false, MidiError::OpenFailed},
      {"silent after block 2", [](Rig& r) { r.device = DeviceSession({.silentAfter = 2}); },
       Result::Timeout, 3, true},
      // Everything but the note that counts before the device is ready.
      {"stray notes only",
       [](Rig& r) {
         r.answering = false;
         r.strays = {NextNote, ShortMessage(0x91, 0x3C, 0x11), ShortMessage(0x90, 0x3C, 0x12),
                     ShortMessage(0x80, 0x3C, 0x11), ShortMessage(0x90, 0x3D, 0x11)};
       },
       Result::Timeout, 0, false},
      {"output goes", gone(true), Result::PortGone, 2, true, MidiError::None, kOut.name},
      {"input goes", gone(false), Result::PortGone, 2, true, MidiError::None, kIn.name},
      {"interrupt", [](Rig& r) { r.interruptAtBlock2 = true; }, Result::Interrupted, 3, true},
  };
  for (const Row& row : rows) {
    Rig rig;
    rig.options.timeout = milliseconds(50);
    row.setup(rig);
    TransferRunner runner(rig.backend, rig.options);
    rig.runner = &runner;
    const auto report = runner.Run(Image(10000));
    EXPECT_EQ(report.result, row.result) << row.name;
    EXPECT_EQ(report.midiError, row.error) << row.name;
    EXPECT_EQ(report.blocksSent, row.blocksSent) << row.name;
    EXPECT_EQ(report.readyReceived, row.ready) << row.name;
    EXPECT_EQ(report.gonePort, row.gonePort) << row.name;
    EXPECT_EQ(rig.blocks, Sequence(row.blocksSent)) << row.name;
    EXPECT_FALSE(rig.verdict || rig.backend.inputOpen()) << row.name;
  }
  Rig rig;
  TransferRunner runner(rig.backend, rig.options);
  EXPECT_EQ(runner.Run({}).result, Result::InvalidImage);
  EXPECT_EQ(rig.backend.inputsOpened(), 0u);
  runner.Interrupt();  // before the start: nothing goes out
  EXPECT_EQ(runner.Run(Image(100)).result, Result::Interrupted);
  EXPECT_TRUE(rig.backend.sent().empty());
}

// The messages the end-to-end cases do not see.
TEST(TransferRunner, FailureMessagesNameThePortAndWhereItStopped) {
  const TransferRunner::Options options{kOut, kIn, milliseconds(2000), milliseconds(0)};
  for (const auto& [result, ready, words] : std::vector<std::tuple<Result, bool, std::string>>{
           {Result::BlockSendFailed, true, "sending block 5 of 10 to \"device:in\" failed"},
           {Result::AnnounceFailed, false, "announce message to \"device:in\" failed"},
           {Result::InputOpenFailed, false, "cannot open MIDI input port \"device:out\""},
           {Result::Timeout, false,
            "no ready note from the device on \"device:out\" within 2 s"}}) {
    const TransferRunner::Report report{result, MidiError::None, ready, 10, 4, ""};
    EXPECT_NE(DescribeTransferReport(report, options).find(words), std::string::npos) << words;
  }
}

}  // namespace
}  // namespace movrin
