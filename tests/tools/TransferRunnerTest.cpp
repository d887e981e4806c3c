#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DeviceSession.h"
#include "InMemoryMidiBackend.h"
#include "Packing.h"
#include "Protocol.h"
#include "TransferRunner.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = TransferRunner::Result;
using std::chrono::milliseconds;

const MidiPortInfo kOut{"device:in"};
const MidiPortInfo kIn{"device:out"};

Bytes Image(std::size_t n) {
  Bytes image(n);
  std::uint32_t x = 7;
  for (auto& b : image) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

// The in-memory backend with a DeviceSession behind it, whose replies come back on the input
// during the send, as from a quick device.
struct Rig {
  explicit Rig(DeviceSession::Options device = {}) : backend({kOut}, {kIn}), device(device) {
    backend.OnSend([this](const InMemoryMidiBackend::Sent& sent) {
      const auto parsed = ParseUpdateMessage(sent.bytes);
      if (parsed.kind == MessageKind::Block) {
        blocks.push_back(parsed.value);
      }
      if (duringSend) {
        duringSend(parsed);
      }
      const auto out = answering ? this->device.OnMessage(sent.bytes) : DeviceSession::Output{};
      verdict = out.verdict ? out.verdict : verdict;
      for (const auto& r : out.replies) {
        backend.Deliver(ShortMessage(r[0], r[1], r.size() > 2 ? r[2] : 0));
      }
    });
    options.output = kOut;
    options.input = kIn;
    options.timeout = milliseconds(5000);
    options.portCheckInterval = milliseconds(0);
  }

  InMemoryMidiBackend backend;
  DeviceSession device;
  TransferRunner::Options options;
  bool answering = true;
  bool interruptFirst = false;
  TransferRunner* runner = nullptr;
  std::function<void(const ParsedMessage&)> duringSend;
  std::vector<int> blocks;  // block indexes in the order they were sent
  std::optional<DeviceSession::Verdict> verdict;
};

std::vector<int> Sequence(std::int64_t count) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) {
    v.push_back(i);
  }
  return v;
}

TEST(TransferRunner, DeliversEveryBlockOnceAndInOrder) {
  std::vector<std::pair<std::size_t, DeviceSession::Options>> rows;
  for (std::size_t n :
       {1u, 895u, 896u, 897u, 2688u, 300000u}) {  // packed 2, 1023, 1024, 1025, 3072, ...
    rows.push_back({n, {}});
  }
  for (int faults = 1; faults < 8; ++faults) {
    rows.push_back({20000,
                    {.duplicateReady = (faults & 1) != 0,
                     .earlyRequest = (faults & 2) != 0,
                     .noise = (faults & 4) != 0,
                     .seed = static_cast<std::uint32_t>(faults)}});
  }
  for (const auto& [n, device] : rows) {
    Rig rig(device);
    TransferRunner runner(rig.backend, rig.options);
    const Bytes image = Image(n);
    std::vector<std::int64_t> progress;
    std::int64_t started = -1;
    const auto report =
        runner.Run(image, {[&](std::int64_t blocks, std::int64_t) { started = blocks; },
                           [&](std::int64_t sent, std::int64_t) { progress.push_back(sent); }});
    const std::int64_t blocks = static_cast<std::int64_t>((PackedLength(n) + 1023) / 1024);
    EXPECT_EQ(report.result, Result::Completed) << n;
    EXPECT_EQ(std::tie(report.blocksSent, report.blockCount, started),
              std::tie(blocks, blocks, blocks));
    EXPECT_EQ(rig.blocks, Sequence(blocks)) << n;
    EXPECT_EQ(progress.size(), static_cast<std::size_t>(blocks));
    EXPECT_EQ(progress.back(), blocks);
    EXPECT_EQ(rig.backend.sent().front().bytes, AnnounceMessage(static_cast<int>(blocks)));
    ASSERT_TRUE(rig.verdict) << n;
    EXPECT_EQ(rig.verdict->image, image) << n;
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
  };
  const auto silent = [](std::optional<std::int64_t> after) {
    return [after](Rig& rig) {
      rig.device = DeviceSession({.silentAfter = after});
      rig.answering = after.has_value();
    };
  };
  const auto portGoes = [](bool output) {
    return [output](Rig& rig) {
      rig.options.portCheckInterval = milliseconds(5);
      rig.options.timeout = milliseconds(60000);  // the watchdog, not the expected end
      rig.duringSend = [&rig, output](const ParsedMessage& m) {
        if (m.kind == MessageKind::Block && m.value == 1) {
          rig.answering = false;
          output ? rig.backend.SetOutputs({}) : rig.backend.SetInputs({});
        }
      };
    };
  };
  const std::vector<Row> rows = {
      {"block 0 fails", [](Rig& r) { r.backend.FailSends(MidiError::SendFailed, 1, 1); },
       Result::BlockSendFailed, 0, true, MidiError::SendFailed},
      {"block 4 fails", [](Rig& r) { r.backend.FailSends(MidiError::SendFailed, 1, 5); },
       Result::BlockSendFailed, 4, true, MidiError::SendFailed},
      {"announce fails", [](Rig& r) { r.backend.FailSends(MidiError::NoSuchPort, 1, 0); },
       Result::AnnounceFailed, 0, false, MidiError::NoSuchPort},
      {"input fails", [](Rig& r) { r.backend.FailNextOpen(MidiError::OpenFailed); },
       Result::InputOpenFailed, 0, false, MidiError::OpenFailed},
      {"silent before ready", silent(std::nullopt), Result::Timeout, 0, false},
      {"silent after block 0", silent(0), Result::Timeout, 1, true},
      {"silent after block 2", silent(2), Result::Timeout, 3, true},
      {"stray notes only",
       [](Rig& r) {
         r.answering = false;
         r.duringSend = [&r](const ParsedMessage&) {
           // Everything but the note that counts before the device is ready.
           for (std::uint32_t m :
                {NextNote, ShortMessage(0x91, 0x3C, 0x11), ShortMessage(0x90, 0x3C, 0x12),
                 ShortMessage(0x80, 0x3C, 0x11), ShortMessage(0x90, 0x3D, 0x11)}) {
             r.backend.Deliver(m);
           }
         };
       },
       Result::Timeout, 0, false},
      {"output goes", portGoes(true), Result::PortGone, 2, true},
      {"input goes", portGoes(false), Result::PortGone, 2, true},
      {"interrupted at block 2",
       [](Rig& r) {
         // The request for block 3 is already queued behind it.
         r.duringSend = [&r](const ParsedMessage& m) {
           if (m.kind == MessageKind::Block && m.value == 2) {
             r.runner->Interrupt();
           }
         };
       },
       Result::Interrupted, 3, true},
      {"interrupted first", [](Rig& r) { r.interruptFirst = true; }, Result::Interrupted, 0, false},
  };
  for (const Row& row : rows) {
    Rig rig;
    rig.options.timeout = milliseconds(50);
    row.setup(rig);
    TransferRunner runner(rig.backend, rig.options);
    rig.runner = &runner;
    if (rig.interruptFirst) {
      runner.Interrupt();
    }
    const auto report = runner.Run(Image(10000));
    EXPECT_EQ(report.result, row.result) << row.name;
    EXPECT_EQ(report.midiError, row.error) << row.name;
    EXPECT_EQ(report.blocksSent, row.blocksSent) << row.name;
    EXPECT_EQ(report.readyReceived, row.ready) << row.name;
    EXPECT_EQ(rig.blocks, Sequence(row.blocksSent)) << row.name;
    EXPECT_FALSE(rig.verdict) << row.name;
    EXPECT_FALSE(rig.backend.inputOpen()) << row.name;
    EXPECT_EQ(report.gonePort, row.result != Result::PortGone           ? ""
                               : std::string(row.name) == "output goes" ? kOut.name
                                                                        : kIn.name);
  }
  Rig rig;
  TransferRunner runner(rig.backend, rig.options);
  EXPECT_EQ(runner.Run({}).result, Result::InvalidImage);
  EXPECT_EQ(rig.backend.inputsOpened(), 0u);
  EXPECT_TRUE(rig.backend.sent().empty());
}

TEST(TransferRunner, FailureMessagesNameThePortAndWhereItStopped) {
  Rig rig;
  rig.options.timeout = milliseconds(2000);
  const std::vector<std::pair<Result, std::vector<std::string>>> rows = {
      {Result::Timeout, {"no request on \"device:out\" within 2 s after block 4 of 10"}},
      {Result::BlockSendFailed, {"block 5 of 10 to \"device:in\" failed"}},
      {Result::AnnounceFailed, {"announce message to \"device:in\""}},
      {Result::InputOpenFailed, {"input port \"device:out\""}},
      {Result::Interrupted, {"interrupted after block 4 of 10"}},
      {Result::PortGone, {"\"gone\" went away after block 4 of 10"}},
  };
  for (const auto& [result, mentions] : rows) {
    const TransferRunner::Report report{result, MidiError::None, true, 10, 4, "gone"};
    const std::string text = DescribeTransferReport(report, rig.options);
    for (const auto& words : mentions) {
      EXPECT_NE(text.find(words), std::string::npos) << "\"" << text << "\" lacks " << words;
    }
  }
  const TransferRunner::Report early{Result::Timeout, MidiError::None, false, 10, 0, ""};
  EXPECT_NE(DescribeTransferReport(early, rig.options).find("no ready note"), std::string::npos);
}

}  // namespace
}  // namespace movrin
