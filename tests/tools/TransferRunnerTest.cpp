#include <gtest/gtest.h>

#include <cstdint>
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

Bytes Image(std::size_t n, std::uint32_t seed = 7) {
  Bytes image(n);
  std::uint32_t x = seed;
  for (auto& b : image) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

std::uint32_t ShortValue(const Bytes& m) {
  return ShortMessage(m[0], m.size() > 1 ? m[1] : 0, m.size() > 2 ? m[2] : 0);
}

// The in-memory backend with a device behind it: every message the sender sends goes to a
// DeviceSession, whose replies come back on the input during the send, as from a quick device.
class Rig {
 public:
  explicit Rig(DeviceSession::Options device = {}) : backend({kOut}, {kIn}), device_(device) {
    backend.OnSend([this](const InMemoryMidiBackend::Sent& sent) {
      if (beforeReply) {
        beforeReply(sent);
      }
      if (!answering) {
        return;
      }
      const auto out = device_.OnMessage(sent.bytes);
      if (out.verdict) {
        verdict = out.verdict;
      }
      for (const auto& reply : out.replies) {
        backend.Deliver(ShortValue(reply));
      }
    });
  }

  TransferRunner::Options Options(std::optional<milliseconds> timeout = milliseconds(5000)) {
    TransferRunner::Options options;
    options.output = kOut;
    options.input = kIn;
    options.timeout = timeout;
    options.portCheckInterval = milliseconds(0);
    return options;
  }

  // Block indexes in the order they were sent.
  std::vector<int> SentBlocks() const {
    std::vector<int> indexes;
    for (const auto& sent : backend.sent()) {
      const auto parsed = ParseUpdateMessage(sent.bytes);
      if (parsed.ok() && parsed.kind == MessageKind::Block) {
        indexes.push_back(parsed.value);
      }
    }
    return indexes;
  }

  InMemoryMidiBackend backend;
  bool answering = true;
  std::function<void(const InMemoryMidiBackend::Sent&)> beforeReply;
  std::optional<DeviceSession::Verdict> verdict;

 private:
  DeviceSession device_;
};

std::vector<int> Sequence(int count) {
  std::vector<int> v(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    v[static_cast<std::size_t>(i)] = i;
  }
  return v;
}

TEST(TransferRunner, DeliversTheImageToTheDeviceAcrossBlockBoundaries) {
  // Packed 2, 1023, 1024, 1025 and 3072 bytes.
  for (std::size_t n : {1u, 895u, 896u, 897u, 2688u}) {
    Rig rig;
    TransferRunner runner(rig.backend, rig.Options());
    const Bytes image = Image(n);
    std::vector<std::int64_t> progress;
    TransferRunner::Observer observer;
    std::int64_t announcedBlocks = -1;
    observer.started = [&](std::int64_t blocks, std::int64_t) { announcedBlocks = blocks; };
    observer.blockSent = [&](std::int64_t sent, std::int64_t) { progress.push_back(sent); };

    const auto report = runner.Run(image, observer);

    const int blocks = static_cast<int>((PackedLength(n) + 1023) / 1024);
    EXPECT_EQ(report.result, Result::Completed) << n;
    EXPECT_EQ(report.blocksSent, blocks) << n;
    EXPECT_EQ(announcedBlocks, blocks) << n;
    EXPECT_EQ(rig.SentBlocks(), Sequence(blocks)) << n;
    EXPECT_EQ(progress.size(), static_cast<std::size_t>(blocks)) << n;
    EXPECT_EQ(rig.backend.sent().front().bytes, AnnounceMessage(blocks)) << n;
    ASSERT_TRUE(rig.verdict) << n;
    EXPECT_EQ(rig.verdict->image, image) << n;
    EXPECT_FALSE(rig.backend.inputOpen()) << n;
  }
}

TEST(TransferRunner, IgnoresNoiseDuplicateReadyAndEarlyRequests) {
  struct Row {
    const char* name;
    DeviceSession::Options device;
  };
  std::vector<Row> rows(4);
  rows[0].name = "noise";
  rows[0].device.noise = true;
  rows[1].name = "duplicate ready";
  rows[1].device.duplicateReady = true;
  rows[2].name = "early request";
  rows[2].device.earlyRequest = true;
  rows[3].name = "all at once";
  rows[3].device.noise = true;
  rows[3].device.duplicateReady = true;
  rows[3].device.earlyRequest = true;
  rows[3].device.seed = 99;
  for (const Row& row : rows) {
    Rig rig(row.device);
    TransferRunner runner(rig.backend, rig.Options());
    const Bytes image = Image(20000);
    const auto report = runner.Run(image);
    EXPECT_EQ(report.result, Result::Completed) << row.name;
    // Every block exactly once and in order: no stray note made anything go out twice.
    EXPECT_EQ(rig.SentBlocks(), Sequence(static_cast<int>(report.blockCount))) << row.name;
    ASSERT_TRUE(rig.verdict) << row.name;
    EXPECT_EQ(rig.verdict->image, image) << row.name;
  }
}

TEST(TransferRunner, AFailedBlockSendStopsTheTransfer) {
  for (std::size_t failing : {0u, 1u, 4u}) {
    Rig rig;
    // The announce and `failing` blocks go out, then the next block fails.
    rig.backend.FailSends(MidiError::SendFailed, 1, 1 + failing);
    TransferRunner runner(rig.backend, rig.Options());
    const auto report = runner.Run(Image(6000));
    EXPECT_EQ(report.result, Result::BlockSendFailed) << failing;
    EXPECT_EQ(report.midiError, MidiError::SendFailed) << failing;
    EXPECT_EQ(report.blocksSent, static_cast<std::int64_t>(failing)) << failing;
    EXPECT_EQ(rig.SentBlocks(), Sequence(static_cast<int>(failing))) << failing;
    EXPECT_FALSE(rig.verdict) << failing;
    EXPECT_FALSE(rig.backend.inputOpen()) << failing;
    // A late request finds the input closed, and nothing more goes out.
    EXPECT_FALSE(rig.backend.Deliver(NextNote));
    EXPECT_EQ(rig.SentBlocks().size(), failing);
  }
}

TEST(TransferRunner, AFailedAnnounceEndsTheAttempt) {
  Rig rig;
  rig.backend.FailSends(MidiError::NoSuchPort, 1, 0);
  TransferRunner runner(rig.backend, rig.Options());
  const auto report = runner.Run(Image(100));
  EXPECT_EQ(report.result, Result::AnnounceFailed);
  EXPECT_EQ(report.midiError, MidiError::NoSuchPort);
  EXPECT_TRUE(rig.backend.sent().empty());
  EXPECT_FALSE(rig.backend.inputOpen());
  EXPECT_EQ(rig.backend.inputsOpened(), 1u);
}

TEST(TransferRunner, AnInputThatWillNotOpenSendsNothing) {
  Rig rig;
  rig.backend.FailNextOpen(MidiError::OpenFailed);
  TransferRunner runner(rig.backend, rig.Options());
  const auto report = runner.Run(Image(100));
  EXPECT_EQ(report.result, Result::InputOpenFailed);
  EXPECT_EQ(report.midiError, MidiError::OpenFailed);
  EXPECT_TRUE(rig.backend.sent().empty());
}

TEST(TransferRunner, AnImageThatCannotBeSentOpensNothing) {
  Rig rig;
  TransferRunner runner(rig.backend, rig.Options());
  EXPECT_EQ(runner.Run({}).result, Result::InvalidImage);
  EXPECT_EQ(rig.backend.inputsOpened(), 0u);
  EXPECT_TRUE(rig.backend.sent().empty());
}

TEST(TransferRunner, ASilentDeviceTimesOut) {
  struct Row {
    const char* name;
    std::optional<std::int64_t> silentAfter;  // none: never even ready
    bool ready;
    std::int64_t blocksSent;
  };
  const std::vector<Row> rows = {
      {"before ready", std::nullopt, false, 0},
      {"after block 0", 0, true, 1},
      {"after block 2", 2, true, 3},
  };
  for (const Row& row : rows) {
    DeviceSession::Options device;
    device.silentAfter = row.silentAfter;
    Rig rig(device);
    rig.answering = row.silentAfter.has_value();
    TransferRunner runner(rig.backend, rig.Options(milliseconds(50)));
    const auto report = runner.Run(Image(10000));
    EXPECT_EQ(report.result, Result::Timeout) << row.name;
    EXPECT_EQ(report.readyReceived, row.ready) << row.name;
    EXPECT_EQ(report.blocksSent, row.blocksSent) << row.name;
    EXPECT_FALSE(rig.backend.inputOpen()) << row.name;
  }
}

TEST(TransferRunner, StrayNotesBeforeTheReadyNoteStartNothing) {
  Rig rig;
  rig.answering = false;
  rig.beforeReply = [&](const InMemoryMidiBackend::Sent&) {
    // Everything but the two notes that count in their phase.
    for (std::uint32_t m :
         {NextNote, ShortMessage(0x91, 0x3C, 0x11), ShortMessage(0x90, 0x3C, 0x12),
          ShortMessage(0x80, 0x3C, 0x11), ShortMessage(0x90, 0x3D, 0x11)}) {
      rig.backend.Deliver(m);
    }
  };
  TransferRunner runner(rig.backend, rig.Options(milliseconds(50)));
  const auto report = runner.Run(Image(10000));
  EXPECT_EQ(report.result, Result::Timeout);
  EXPECT_FALSE(report.readyReceived);
  EXPECT_EQ(rig.backend.sent().size(), 1u);  // the announce only
}

TEST(TransferRunner, NoticesWhenTheDevicePortGoesAway) {
  for (bool output : {true, false}) {
    Rig rig;
    rig.beforeReply = [&](const InMemoryMidiBackend::Sent& sent) {
      const auto parsed = ParseUpdateMessage(sent.bytes);
      if (parsed.kind == MessageKind::Block && parsed.value == 1) {
        rig.answering = false;
        if (output) {
          rig.backend.SetOutputs({});
        } else {
          rig.backend.SetInputs({});
        }
      }
    };
    auto options = rig.Options(milliseconds(60000));  // the watchdog, not the expected end
    options.portCheckInterval = milliseconds(5);
    TransferRunner runner(rig.backend, options);
    const auto report = runner.Run(Image(10000));
    EXPECT_EQ(report.result, Result::PortGone) << output;
    EXPECT_EQ(report.gonePort, output ? kOut.name : kIn.name);
    EXPECT_EQ(report.blocksSent, 2);
    EXPECT_FALSE(rig.backend.inputOpen());
  }
}

TEST(TransferRunner, AnInterruptStopsBetweenBlocks) {
  Rig rig;
  std::optional<TransferRunner> runner;
  runner.emplace(rig.backend, rig.Options(std::nullopt));
  rig.beforeReply = [&](const InMemoryMidiBackend::Sent& sent) {
    const auto parsed = ParseUpdateMessage(sent.bytes);
    if (parsed.kind == MessageKind::Block && parsed.value == 2) {
      runner->Interrupt();  // the request for block 3 is already queued behind it
    }
  };
  const auto report = runner->Run(Image(10000));
  EXPECT_EQ(report.result, Result::Interrupted);
  EXPECT_EQ(rig.SentBlocks(), Sequence(3));
  EXPECT_FALSE(rig.backend.inputOpen());
}

TEST(TransferRunner, AnInterruptBeforeTheStartSendsNothing) {
  Rig rig;
  TransferRunner runner(rig.backend, rig.Options(std::nullopt));
  runner.Interrupt();
  EXPECT_EQ(runner.Run(Image(100)).result, Result::Interrupted);
  EXPECT_TRUE(rig.backend.sent().empty());
  EXPECT_FALSE(rig.backend.inputOpen());
}

TEST(TransferRunner, FailureMessagesNameThePortAndWhereItStopped) {
  TransferRunner::Options options;
  options.output = kOut;
  options.input = kIn;
  options.timeout = milliseconds(2000);
  TransferRunner::Report report;
  report.blockCount = 10;
  report.blocksSent = 4;
  report.readyReceived = true;
  struct Row {
    Result result;
    std::vector<std::string> mentions;
  };
  const std::vector<Row> rows = {
      {Result::Timeout, {"\"device:out\"", "2 s", "block 4 of 10"}},
      {Result::BlockSendFailed, {"block 5 of 10", "\"device:in\""}},
      {Result::AnnounceFailed, {"announce", "\"device:in\""}},
      {Result::InputOpenFailed, {"\"device:out\""}},
      {Result::Interrupted, {"interrupted", "block 4 of 10"}},
  };
  for (const Row& row : rows) {
    report.result = row.result;
    const std::string text = DescribeTransferReport(report, options);
    for (const auto& word : row.mentions) {
      EXPECT_NE(text.find(word), std::string::npos) << "\"" << text << "\" lacks " << word;
    }
  }
  report.readyReceived = false;
  report.result = Result::Timeout;
  EXPECT_NE(DescribeTransferReport(report, options).find("no ready note"), std::string::npos);
}

}  // namespace
}  // namespace movrin
