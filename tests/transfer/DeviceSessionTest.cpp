#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "DeviceSession.h"
#include "Protocol.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Replies = std::vector<Bytes>;
using Problem = DeviceSession::Problem;

const Bytes R = {0x90, 0x3C, 0x11};  // ready
const Bytes N = {0x90, 0x3C, 0x33};  // request

Bytes Announce(std::uint8_t count) {
  return {0xF0, 0x00, 0x20, 0x63, 0x00, 0x04, 0x00, 0x04, 0x00, 0x18, 0x00, count, 0x89, 0xF7};
}
Bytes Block(std::uint8_t index, Bytes payload) {
  // Header, payload and end built in place: MinGW's GCC 12 at -O2 takes an insert after a
  // 13-byte list for a read out of bounds (-Warray-bounds, a false positive).
  payload.insert(payload.begin(),
                 {0xF0, 0x00, 0x20, 0x63, 0x00, 0x01, 0x00, 0x7F, 0x00, 0x18, 0x00, index, 0x89});
  payload.push_back(0xF7);
  return payload;
}
// The image 80 01 FF packed: flag 0x50, then 00 01 7F.
const Bytes kSmall = Block(0, {0x50, 0x00, 0x01, 0x7F});
const Bytes kFull(1024, 0x00);  // zero groups: 896 zero bytes

DeviceSession::Output Feed(DeviceSession& session, const std::vector<Bytes>& messages) {
  DeviceSession::Output out;
  for (const Bytes& m : messages) {
    out = session.OnMessage(m);
  }
  return out;
}

TEST(DeviceSession, ReportsMalformedInputAndServesTheNextTransfer) {
  Bytes highBit = kSmall;  // the parser's own cases are tested with the parser
  highBit[14] = 0x80;
  const std::vector<std::pair<std::vector<Bytes>, Problem>> rows = {
      {{Announce(1), highBit}, Problem::BadMessage},
      {{Announce(2), Block(1, {0x00, 0x01})}, Problem::OutOfOrder},
      {{Announce(2), Block(0, kFull), Block(0, kFull)}, Problem::OutOfOrder},
      {{Announce(2), Block(0, Bytes(1000, 0))}, Problem::WrongLength},
      {{kSmall}, Problem::BlockWithoutAnnounce},
      {{Announce(0)}, Problem::EmptyAnnounce},
      {{Announce(1), Block(0, {0, 0, 0, 0, 0, 0, 0, 0, 0x40})}, Problem::BadPacking},
      {{Announce(1), Block(0, {0x20, 0x01})}, Problem::BadPacking},  // flag for a missing byte
  };
  for (const auto& [messages, problem] : rows) {
    DeviceSession session({});
    const auto out = Feed(session, messages);
    EXPECT_EQ(out.problem, problem) << messages.size();
    EXPECT_FALSE(out.text.empty() || out.verdict || !out.replies.empty() || !out.ended());
    EXPECT_EQ(session.OnMessage(Announce(1)).replies, (Replies{R, N}));
    EXPECT_EQ(session.OnMessage(kSmall).verdict->image, (Bytes{0x80, 0x01, 0xFF}));
  }
}

TEST(DeviceSession, RepliesAsTheFaultsSay) {
  struct Row {
    DeviceSession::Options options;
    std::vector<Bytes> messages;
    Replies replies;  // to the last message
    bool closePorts = false;
  };
  const std::vector<Row> rows = {
      {{}, {Announce(2), Block(0, kFull)}, {N}},
      {{}, {Announce(2), Block(0, kFull), Announce(1)}, {R, N}},  // a new announce starts over
      {{.duplicateReady = true}, {Announce(1)}, {R, R, N}},
      {{.earlyRequest = true}, {Announce(1)}, {N, R, N}},
      {{.silentAfter = 0}, {Announce(2), Block(0, kFull)}, {}},
      {{.closeAfter = 0}, {Announce(2), Block(0, kFull)}, {}, true},
  };
  for (const Row& row : rows) {
    DeviceSession session(row.options);
    const auto out = Feed(session, row.messages);
    EXPECT_EQ(out.replies, row.replies) << row.messages.size();
    EXPECT_EQ(out.closePorts, row.closePorts);
    EXPECT_EQ(out.problem, Problem::None);
  }
}

TEST(DeviceSession, JudgesTheImageAgainstTheExpectedOne) {
  struct Row {
    std::optional<Bytes> expected;
    std::string line;
  };
  const std::string received = "verdict: received 3 bytes in 1 block, CRC-32 2a6d1c5e";
  const std::vector<Row> rows = {
      {std::nullopt, received},
      {Bytes{0x80, 0x01, 0xFF}, received + ", identical to x.bin"},
      {Bytes{0x80, 0x02, 0xFF},
       received + ", DIFFERENT from x.bin (3 bytes, CRC-32 01404f9d): first difference at byte 1"},
  };
  for (const Row& row : rows) {
    DeviceSession session({.expected = row.expected});
    const auto out = Feed(session, {Announce(1), kSmall});
    ASSERT_TRUE(out.verdict);
    EXPECT_EQ(FormatVerdict(*out.verdict, "x.bin"), row.line);
  }
  Bytes twoBlocks(896, 0x00);
  twoBlocks.push_back(0x05);
  DeviceSession session({.expected = twoBlocks});
  const auto two = Feed(session, {Announce(2), Block(0, kFull), Block(1, {0x00, 0x05})});
  EXPECT_NE(FormatVerdict(*two.verdict, "x").find("897 bytes in 2 blocks"), std::string::npos);
  EXPECT_EQ(two.verdict->identical, true);
}

}  // namespace
}  // namespace movrin
