#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DeviceSession.h"
#include "Protocol.h"
#include "TransferEngine.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Problem = DeviceSession::Problem;
using State = DeviceSession::State;

const Bytes kReady = {0x90, 0x3C, 0x11};
const Bytes kRequest = {0x90, 0x3C, 0x33};

// Announces of 1 and 2 blocks.
const Bytes kAnnounce1 = {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00,
                          0x04, 0x00, 0x18, 0x00, 0x01, 0x89, 0xF7};
const Bytes kAnnounce2 = {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00,
                          0x04, 0x00, 0x18, 0x00, 0x02, 0x89, 0xF7};
const Bytes kAnnounce0 = {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00,
                          0x04, 0x00, 0x18, 0x00, 0x00, 0x89, 0xF7};

// Block 0 carrying the image 80 01 FF packed: flag 0x50, then 00 01 7F.
const Bytes kBlock0Small = {0xF0, 0x00, 0x20, 0x63, 0x00, 0x01, 0x00, 0x7F, 0x00,
                            0x18, 0x00, 0x00, 0x89, 0x50, 0x00, 0x01, 0x7F, 0xF7};

Bytes BlockMessageBytes(std::uint16_t index, const Bytes& payload) {
  Bytes m = {0xF0,
             0x00,
             0x20,
             0x63,
             0x00,
             0x01,
             0x00,
             0x7F,
             0x00,
             0x18,
             static_cast<std::uint8_t>(index >> 8),
             static_cast<std::uint8_t>(index),
             0x89};
  m.insert(m.end(), payload.begin(), payload.end());
  m.push_back(0xF7);
  return m;
}

// A full block of zero groups: packed 00 followed by seven 00, which unpacks to zeros.
const Bytes kFullPayload(1024, 0x00);

TEST(DeviceSession, ReceivesAOneBlockImage) {
  DeviceSession session({});
  const auto announced = session.OnMessage(kAnnounce1);
  EXPECT_EQ(announced.replies, (std::vector<Bytes>{kReady, kRequest}));
  EXPECT_EQ(announced.problem, Problem::None);
  EXPECT_EQ(session.state(), State::Receiving);

  const auto received = session.OnMessage(kBlock0Small);
  EXPECT_TRUE(received.replies.empty());  // nothing is asked for after the last block
  ASSERT_TRUE(received.verdict);
  EXPECT_EQ(received.verdict->image, (Bytes{0x80, 0x01, 0xFF}));
  EXPECT_EQ(received.verdict->blocks, 1);
  EXPECT_EQ(session.state(), State::Idle);
}

TEST(DeviceSession, AsksForEachBlockUntilTheLast) {
  DeviceSession session({});
  (void)session.OnMessage(kAnnounce2);
  const auto first = session.OnMessage(BlockMessageBytes(0, kFullPayload));
  EXPECT_EQ(first.replies, std::vector<Bytes>{kRequest});
  EXPECT_FALSE(first.verdict);
  const auto last = session.OnMessage(BlockMessageBytes(1, {0x00, 0x05}));
  EXPECT_TRUE(last.replies.empty());
  ASSERT_TRUE(last.verdict);
  Bytes expected(896, 0x00);
  expected.push_back(0x05);
  EXPECT_EQ(last.verdict->image, expected);
}

TEST(DeviceSession, ReportsMalformedInputAndRecovers) {
  Bytes wrongHeader = kBlock0Small;
  wrongHeader[9] = 0x19;
  Bytes highBit = kBlock0Small;
  highBit[14] = 0x80;
  Bytes unterminated = kBlock0Small;
  unterminated.back() = 0x7F;
  Bytes unknownKind = kAnnounce1;
  unknownKind[5] = 0x02;

  struct Row {
    const char* name;
    Bytes announce;  // empty: none before the message
    std::vector<Bytes> before;
    Bytes message;
    Problem problem;
  };
  const std::vector<Row> rows = {
      {"wrong header", kAnnounce1, {}, wrongHeader, Problem::BadMessage},
      {"high bit in payload", kAnnounce1, {}, highBit, Problem::BadMessage},
      {"unterminated", kAnnounce1, {}, unterminated, Problem::BadMessage},
      {"unknown kind", {}, {}, unknownKind, Problem::BadMessage},
      {"too short", kAnnounce1, {}, {0xF0, 0x00, 0xF7}, Problem::BadMessage},
      {"out of order", kAnnounce2, {}, BlockMessageBytes(1, {0x00, 0x01}), Problem::OutOfOrder},
      {"repeated block",
       kAnnounce2,
       {BlockMessageBytes(0, kFullPayload)},
       BlockMessageBytes(0, kFullPayload),
       Problem::OutOfOrder},
      {"index past the count",
       kAnnounce1,
       {},
       BlockMessageBytes(7, {0x00, 0x01}),
       Problem::OutOfOrder},
      {"short block before the last",
       kAnnounce2,
       {},
       BlockMessageBytes(0, Bytes(1000, 0)),
       Problem::WrongLength},
      {"block without announce", {}, {}, kBlock0Small, Problem::BlockWithoutAnnounce},
      {"announce of 0 blocks", {}, {}, kAnnounce0, Problem::EmptyAnnounce},
      // A lone flag byte at the end does not unpack.
      {"bad packing",
       kAnnounce1,
       {},
       BlockMessageBytes(0, {0, 0, 0, 0, 0, 0, 0, 0, 0x40}),
       Problem::BadPacking},
      {"flag for a missing byte",
       kAnnounce1,
       {},
       BlockMessageBytes(0, {0x20, 0x01}),
       Problem::BadPacking},
  };
  for (const Row& row : rows) {
    DeviceSession session({});
    if (!row.announce.empty()) {
      (void)session.OnMessage(row.announce);
    }
    for (const auto& m : row.before) {
      (void)session.OnMessage(m);
    }
    const auto out = session.OnMessage(row.message);
    EXPECT_EQ(out.problem, row.problem) << row.name;
    EXPECT_FALSE(out.text.empty()) << row.name;
    EXPECT_TRUE(out.replies.empty()) << row.name;
    EXPECT_FALSE(out.verdict) << row.name;
    EXPECT_TRUE(out.ended()) << row.name;
    EXPECT_EQ(session.state(), State::Idle) << row.name;
    // The session serves the next transfer as if nothing had happened.
    EXPECT_EQ(session.OnMessage(kAnnounce1).replies, (std::vector<Bytes>{kReady, kRequest}))
        << row.name;
    EXPECT_TRUE(session.OnMessage(kBlock0Small).verdict) << row.name;
  }
}

TEST(DeviceSession, IgnoresChannelMessages) {
  DeviceSession session({});
  (void)session.OnMessage(kAnnounce1);
  for (const Bytes& m : {kReady, kRequest, Bytes{0xC0, 0x05}, Bytes{0xF8}}) {
    const auto out = session.OnMessage(m);
    EXPECT_TRUE(out.replies.empty());
    EXPECT_EQ(out.problem, Problem::None);
  }
  EXPECT_TRUE(session.OnMessage(kBlock0Small).verdict);
}

TEST(DeviceSession, ANewAnnounceStartsOver) {
  DeviceSession session({});
  (void)session.OnMessage(kAnnounce2);
  (void)session.OnMessage(BlockMessageBytes(0, kFullPayload));
  const auto restart = session.OnMessage(kAnnounce1);
  EXPECT_EQ(restart.problem, Problem::None);
  EXPECT_FALSE(restart.text.empty());
  EXPECT_EQ(restart.replies, (std::vector<Bytes>{kReady, kRequest}));
  const auto out = session.OnMessage(kBlock0Small);
  ASSERT_TRUE(out.verdict);
  EXPECT_EQ(out.verdict->image, (Bytes{0x80, 0x01, 0xFF}));
}

TEST(DeviceSession, FaultsShapeTheReplies) {
  DeviceSession::Options duplicate;
  duplicate.duplicateReady = true;
  EXPECT_EQ(DeviceSession(duplicate).OnMessage(kAnnounce1).replies,
            (std::vector<Bytes>{kReady, kReady, kRequest}));

  DeviceSession::Options early;
  early.earlyRequest = true;
  EXPECT_EQ(DeviceSession(early).OnMessage(kAnnounce1).replies,
            (std::vector<Bytes>{kRequest, kReady, kRequest}));

  DeviceSession::Options silent;
  silent.silentAfter = 0;
  DeviceSession quiet(silent);
  (void)quiet.OnMessage(kAnnounce2);
  EXPECT_TRUE(quiet.OnMessage(BlockMessageBytes(0, kFullPayload)).replies.empty());
  EXPECT_EQ(quiet.state(), State::Silent);
  EXPECT_TRUE(quiet.OnMessage(kAnnounce1).replies.empty());  // it stays silent

  DeviceSession::Options closing;
  closing.closeAfter = 0;
  DeviceSession closer(closing);
  (void)closer.OnMessage(kAnnounce2);
  const auto out = closer.OnMessage(BlockMessageBytes(0, kFullPayload));
  EXPECT_TRUE(out.closePorts);
  EXPECT_TRUE(out.replies.empty());
}

TEST(DeviceSession, ComparesWithTheExpectedImage) {
  struct Row {
    Bytes expected;
    bool identical;
    std::size_t firstDifference;
  };
  const std::vector<Row> rows = {
      {{0x80, 0x01, 0xFF}, true, 0},
      {{0x80, 0x02, 0xFF}, false, 1},
      {{0x80, 0x01}, false, 2},
      {{0x80, 0x01, 0xFF, 0x00}, false, 3},
  };
  for (const Row& row : rows) {
    DeviceSession::Options options;
    options.expected = row.expected;
    DeviceSession session(options);
    (void)session.OnMessage(kAnnounce1);
    const auto out = session.OnMessage(kBlock0Small);
    ASSERT_TRUE(out.verdict);
    ASSERT_TRUE(out.verdict->identical);
    EXPECT_EQ(*out.verdict->identical, row.identical);
    if (!row.identical) {
      EXPECT_EQ(out.verdict->firstDifference, row.firstDifference);
      EXPECT_NE(FormatVerdict(*out.verdict, "x.bin").find("DIFFERENT from x.bin"),
                std::string::npos);
    } else {
      EXPECT_NE(FormatVerdict(*out.verdict, "x.bin").find("identical to x.bin"), std::string::npos);
    }
  }
}

TEST(DeviceSession, VerdictLineCarriesSizeAndCrc) {
  DeviceSession session({});
  (void)session.OnMessage(kAnnounce1);
  const auto out = session.OnMessage(kBlock0Small);
  ASSERT_TRUE(out.verdict);
  // zlib.crc32(bytes([0x80, 0x01, 0xFF])) == 0x2a6d1c5e
  EXPECT_EQ(FormatVerdict(*out.verdict, ""),
            "verdict: received 3 bytes in 1 block, CRC-32 2a6d1c5e");
}

// The device and the sender's engine talking directly, with every fault that must be survived.
TEST(DeviceSession, CompletesAgainstTheEngineDespiteFaults) {
  for (int faults = 0; faults < 8; ++faults) {
    for (std::size_t n : {1u, 895u, 896u, 897u, 2688u, 300000u}) {
      DeviceSession::Options options;
      options.noise = (faults & 1) != 0;
      options.duplicateReady = (faults & 2) != 0;
      options.earlyRequest = (faults & 4) != 0;
      options.seed = static_cast<std::uint32_t>(n + static_cast<std::size_t>(faults));
      Bytes image(n);
      for (std::size_t i = 0; i < n; ++i) {
        image[i] = static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 8));
      }
      options.expected = image;
      DeviceSession device(options);
      TransferEngine engine;
      std::vector<Bytes> toDevice{engine.Begin(image)};
      engine.AnnounceResult(true);
      std::optional<DeviceSession::Verdict> verdict;
      int blocksSent = 0;
      // Bounded: a stuck exchange ends the loop instead of spinning.
      for (int round = 0; !toDevice.empty() && round < 100000; ++round) {
        const Bytes message = toDevice.front();
        toDevice.erase(toDevice.begin());
        const auto out = device.OnMessage(message);
        ASSERT_EQ(out.problem, DeviceSession::Problem::None) << out.text;
        if (out.verdict) {
          verdict = out.verdict;
        }
        for (const auto& reply : out.replies) {
          const auto step = engine.OnShortMessage(ShortMessage(
              reply[0], reply.size() > 1 ? reply[1] : 0, reply.size() > 2 ? reply[2] : 0));
          if (step.kind == TransferEngine::Step::Kind::SendBlock) {
            toDevice.push_back(engine.BuildBlock(step.blockIndex));
            engine.BlockResult(step.blockIndex, true);
            ++blocksSent;
          }
        }
      }
      EXPECT_EQ(engine.state(), TransferEngine::State::Completed) << n << " faults " << faults;
      EXPECT_EQ(blocksSent, engine.blockCount()) << n << " faults " << faults;
      ASSERT_TRUE(verdict) << n << " faults " << faults;
      EXPECT_EQ(verdict->identical, std::optional<bool>(true)) << n << " faults " << faults;
    }
  }
}

}  // namespace
}  // namespace movrin
