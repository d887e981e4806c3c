#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "Packing.h"
#include "Protocol.h"
#include "TransferDriver.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Action = TransferDriver::Action;
using Kind = Action::Kind;

Bytes Image(std::size_t n) {
  Bytes image(n);
  for (std::size_t i = 0; i < n; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  return image;
}

// A whole transfer as DriveTransfer runs it, for a device that asks for every block.
TEST(TransferDriver, SendsEveryBlockOnceInOrderAndReportsEach) {
  // Packed 2, 1023, 1024, 1026 and 3072 bytes: around every block boundary.
  for (std::size_t n : {1u, 895u, 896u, 897u, 2688u, 300000u}) {
    TransferDriver driver;
    std::vector<Bytes> wire;
    std::vector<Action> progress;
    std::int64_t notes = 0;
    const TransferLink link{
        [&](std::span<const std::uint8_t> m) {
          wire.emplace_back(m.begin(), m.end());
          return true;
        },
        [&](auto) -> std::optional<std::uint32_t> { return notes++ == 0 ? ReadyNote : NextNote; },
        [&](const Action& action) { progress.push_back(action); }};
    EXPECT_EQ(DriveTransfer(driver, driver.Begin(Image(n)), link).kind, Kind::Completed);
    const Bytes packed = PackImage(Image(n));
    const auto blocks = static_cast<std::int32_t>((packed.size() + 1023) / 1024);
    ASSERT_EQ(wire.size(), static_cast<std::size_t>(blocks) + 1) << n;
    EXPECT_EQ(notes, blocks + 1) << "nothing is read after the last block";
    EXPECT_EQ(wire[0], AnnounceMessage(blocks));
    ASSERT_EQ(progress.size(), wire.size() + 1);
    EXPECT_EQ(progress[0].kind, Kind::Announced);
    EXPECT_EQ(progress[1].kind, Kind::Started);
    EXPECT_EQ(progress[1].blockCount, blocks);
    Bytes received;
    for (std::int32_t i = 0; i < blocks; ++i) {
      const Bytes& message = wire[static_cast<std::size_t>(i) + 1];
      const ParsedMessage block = ParseUpdateMessage(message);
      ASSERT_TRUE(block.ok()) << Describe(block.error);
      EXPECT_EQ(block.value, i);
      received.insert(received.end(), block.payload.begin(), block.payload.end());
      const Action& sent = progress[static_cast<std::size_t>(i) + 2];
      EXPECT_EQ(sent.kind, i + 1 == blocks ? Kind::Completed : Kind::BlockSent);
      EXPECT_EQ(sent.blocksSent, i + 1);
      EXPECT_EQ(sent.bytes, message.size());
    }
    EXPECT_EQ(received, packed) << n;
    EXPECT_FALSE(driver.running());
  }
  EXPECT_EQ(TransferDriver().Begin({}).kind, Kind::InvalidImage);
}

// Each row is a script for a 3-block image, timeout 100 ms, on a clock that moves only when the
// script says so. A step is what happens, '>', then the action expected. What happens: s/f the
// last send went out/failed, R the ready note, N a request note, x notes that do not count,
// tK K ms pass and the driver is ticked, h take what was held, a abort, n begin again. Actions are
// the letters of kActions: - none, A/B send the announce/a block, a announced, S started, b block
// sent, C completed, F/G announce/block failed, T timed out, X aborted.
TEST(TransferDriver, FollowsTheHandshakeAndTimesOutOnTheInjectedClock) {
  const std::string kActions = "-ABaSbCIFGTX";
  const std::uint32_t strays[] = {
      ShortMessage(0x91, 0x3C, 0x11),  // ready on the second channel
      ShortMessage(0x91, 0x3C, 0x33),  // request on the second channel
      ShortMessage(0x90, 0x3D, 0x11),  // another key
      ShortMessage(0x90, 0x3C, 0x12),  // another velocity
      ShortMessage(0x80, 0x3C, 0x33),  // Note-Off
      NextNote | 0x01000000u,          // bits above the message
  };
  const std::pair<const char*, const char*> rows[] = {
      {"whole", "s>a x>- R>S x>- N>B s>b N>B s>b N>B s>C t999>-"},
      // The guards, one case each.
      {"request while a block is in flight", "s>a R>S N>B N>- s>b h>B s>b"},
      {"request before the ready note", "s>a N>- h>- R>S R>- N>B"},
      {"notes after the last block", "s>a R>S N>B s>b N>B s>b N>B s>C N>- R>- h>- s>-"},
      {"held while a send is out", "R>- x>- N>- s>a h>S h>B N>- s>b h>B s>b h>- N>B"},
      {"announce fails", "R>- f>F h>- N>- t999>-"},
      {"block fails", "s>a R>S N>B f>G N>- R>- s>-"},
      {"silent before ready", "t500>- s>a t99>- t1>T R>- N>-"},
      {"noise does not extend", "s>a t60>- x>- N>- t39>- x>- t1>T"},
      {"ready restarts", "s>a t90>- R>S t99>- t1>T"},
      {"each sent block restarts", "s>a R>S t50>- N>B t500>- s>b t99>- N>B s>b t99>- t1>T"},
      {"silent mid-transfer", "s>a R>S N>B s>b x>- t100>T N>-"},
      {"abort", "s>a R>S a>X N>- t999>-"},
      {"again after abort", "s>a R>S N>B s>b a>X n>A s>a R>S N>B s>b"},
      {"again after completion", "s>a R>S N>B s>b N>B s>b N>B s>C n>A s>a N>- R>S N>B"},
  };
  for (const auto& [name, script] : rows) {
    TransferDriver::TimePoint now{};
    TransferDriver driver(std::chrono::milliseconds(100), [&now] { return now; });
    std::int64_t next = 0;  // the block expected to go out next
    Action action = driver.Begin(Image(2000));
    ASSERT_EQ(action.kind, Kind::SendAnnounce);
    std::istringstream steps(script);
    for (std::string step; steps >> step;) {
      switch (step[0]) {
        case 's':
        case 'f':
          action = driver.OnSent(step[0] == 's');
          break;
        case 'R':
        case 'N':
          action = driver.OnShortMessage(step[0] == 'R' ? ReadyNote : NextNote);
          break;
        case 'x':
          for (const std::uint32_t stray : strays) {
            if ((action = driver.OnShortMessage(stray)).kind != Kind::None) {
              break;
            }
          }
          break;
        case 't':
          now += std::chrono::milliseconds(std::stoi(step.substr(1)));
          action = driver.OnTick();
          break;
        case 'h':
          action = driver.TakeHeld();
          break;
        case 'a':
          action = driver.Abort();
          break;
        default:
          next = 0;
          action = driver.Begin(Image(2000));
      }
      const auto kind = static_cast<std::size_t>(action.kind);
      ASSERT_EQ(kActions.at(kind), step.back()) << name << ": " << step;
      if (action.kind == Kind::SendBlock) {
        EXPECT_EQ(ParseUpdateMessage(action.message).value, next) << name;
      }
      if (action.kind == Kind::BlockSent || action.kind == Kind::Completed) {
        EXPECT_EQ(action.blocksSent, ++next) << name;
      }
      EXPECT_EQ(action.blockCount, action.kind == Kind::None ? 0 : 3) << name;
    }
  }
}

}  // namespace
}  // namespace movrin
