#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Packing.h"
#include "Protocol.h"
#include "TransferEngine.h"
#include "UpdateMessages.h"

namespace movrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = TransferEngine::Step::Kind;
using State = TransferEngine::State;

Bytes Image(std::size_t n) {
  Bytes image(n);
  for (std::size_t i = 0; i < n; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
  return image;
}

// Drives the engine as a sender would, with every send succeeding; returns the wire stream.
std::vector<Bytes> RunToCompletion(TransferEngine& engine, const Bytes& image) {
  std::vector<Bytes> wire;
  wire.push_back(engine.Begin(image));
  engine.AnnounceResult(true);
  EXPECT_EQ(engine.OnShortMessage(ReadyNote).kind, Kind::StartSending);
  while (engine.state() == State::Sending) {
    const auto step = engine.OnShortMessage(NextNote);
    EXPECT_EQ(step.kind, Kind::SendBlock);
    if (step.kind != Kind::SendBlock) {
      break;
    }
    wire.push_back(engine.BuildBlock(step.blockIndex));
    engine.BlockResult(step.blockIndex, true);
  }
  return wire;
}

TEST(TransferEngine, SendsEveryBlockOnceInOrderAndCompletes) {
  // Packed 2, 1023, 1024, 1026 and 3072 bytes: around every block boundary.
  for (std::size_t n : {1u, 895u, 896u, 897u, 2688u, 300000u}) {
    TransferEngine engine;
    const Bytes image = Image(n);
    const std::vector<Bytes> wire = RunToCompletion(engine, image);
    const Bytes packed = PackImage(image);
    const auto blocks = static_cast<std::int32_t>((packed.size() + 1023) / 1024);
    ASSERT_EQ(wire.size(), static_cast<std::size_t>(blocks) + 1) << n;
    EXPECT_EQ(wire[0], AnnounceMessage(blocks));
    Bytes received;
    for (std::int32_t i = 0; i < blocks; ++i) {
      const ParsedMessage block = ParseUpdateMessage(wire[static_cast<std::size_t>(i) + 1]);
      ASSERT_TRUE(block.ok()) << Describe(block.error);
      EXPECT_EQ(block.value, i);
      received.insert(received.end(), block.payload.begin(), block.payload.end());
    }
    EXPECT_EQ(received, packed) << n;
    EXPECT_EQ(engine.state(), State::Completed);
    EXPECT_EQ(engine.blocksSent(), blocks);
    EXPECT_TRUE(engine.packed().empty()) << "the packed image is released after the last block";
  }
}

TEST(TransferEngine, IgnoresEverythingButTheExactNotesInTheirPhase) {
  TransferEngine engine;
  (void)engine.Begin(Image(2000));  // 3 blocks
  engine.AnnounceResult(true);
  const std::uint32_t strays[] = {
      NextNote,                        // request before the ready note
      ShortMessage(0x91, 0x3C, 0x11),  // ready on the second channel
      ShortMessage(0x90, 0x3D, 0x11),  // another key
      ShortMessage(0x90, 0x3C, 0x12),  // another velocity
      ShortMessage(0x80, 0x3C, 0x11),  // Note-Off
      ReadyNote | 0x01000000u,         // bits above the message
  };
  for (std::uint32_t m : strays) {
    EXPECT_EQ(engine.OnShortMessage(m).kind, Kind::Ignore) << std::hex << m;
  }
  EXPECT_EQ(engine.state(), State::WaitingForReady);

  ASSERT_EQ(engine.OnShortMessage(ReadyNote).kind, Kind::StartSending);
  EXPECT_EQ(engine.OnShortMessage(ReadyNote).kind, Kind::Ignore) << "second ready changes nothing";
  EXPECT_EQ(engine.OnShortMessage(ShortMessage(0x91, 0x3C, 0x33)).kind, Kind::Ignore);
  const auto step = engine.OnShortMessage(NextNote);
  EXPECT_EQ(step.kind, Kind::SendBlock);
  EXPECT_EQ(step.blockIndex, 0);
}

TEST(TransferEngine, NeverHandsOutABlockTwiceWhileOneIsInFlight) {
  TransferEngine engine;
  (void)engine.Begin(Image(2000));
  engine.AnnounceResult(true);
  (void)engine.OnShortMessage(ReadyNote);
  const auto first = engine.OnShortMessage(NextNote);
  ASSERT_EQ(first.kind, Kind::SendBlock);
  // Replies that arrive while the sender is still busy (an error box is open, say).
  EXPECT_EQ(engine.OnShortMessage(NextNote).kind, Kind::Ignore);
  EXPECT_EQ(engine.OnShortMessage(NextNote).kind, Kind::Ignore);
  engine.BlockResult(first.blockIndex, true);
  const auto second = engine.OnShortMessage(NextNote);
  ASSERT_EQ(second.kind, Kind::SendBlock);
  EXPECT_EQ(second.blockIndex, 1);
  // A stale result for another index changes nothing.
  engine.BlockResult(0, true);
  EXPECT_EQ(engine.blocksSent(), 1);
}

TEST(TransferEngine, FailedBlockStopsTheTransfer) {
  TransferEngine engine;
  (void)engine.Begin(Image(2000));
  engine.AnnounceResult(true);
  (void)engine.OnShortMessage(ReadyNote);
  const auto step = engine.OnShortMessage(NextNote);
  engine.BlockResult(step.blockIndex, false);
  EXPECT_EQ(engine.state(), State::Failed);
  EXPECT_EQ(engine.blocksSent(), 0) << "a failed block is not counted as sent";
  EXPECT_FALSE(engine.running());
  EXPECT_EQ(engine.OnShortMessage(NextNote).kind, Kind::Ignore);
  EXPECT_EQ(engine.OnShortMessage(ReadyNote).kind, Kind::Ignore);
}

// However an attempt ends, nothing more goes out, whatever the device says.
TEST(TransferEngine, NothingGoesOutAfterAnEnd) {
  TransferEngine announceFailed;
  (void)announceFailed.Begin(Image(10));
  announceFailed.AnnounceResult(false);
  TransferEngine empty;
  EXPECT_TRUE(empty.Begin({}).empty());
  TransferEngine completed;
  (void)RunToCompletion(completed, Image(100));
  for (TransferEngine* engine : {&announceFailed, &empty, &completed}) {
    EXPECT_NE(engine->state(), State::Sending);
    EXPECT_EQ(engine->OnShortMessage(ReadyNote).kind, Kind::Ignore);
    EXPECT_EQ(engine->OnShortMessage(NextNote).kind, Kind::Ignore);
    EXPECT_TRUE(engine->BuildBlock(0).empty());
  }
  EXPECT_EQ(announceFailed.state(), State::Failed);
  EXPECT_EQ(empty.state(), State::Failed);
}

TEST(TransferEngine, BeginsAfreshAfterCompletionAndAfterAbort) {
  TransferEngine engine;
  (void)RunToCompletion(engine, Image(3000));
  const Bytes announce = engine.Begin(Image(10));
  EXPECT_EQ(announce, AnnounceMessage(1));
  EXPECT_EQ(engine.blocksSent(), 0);
  EXPECT_EQ(engine.state(), State::WaitingForReady);

  engine.Abort();
  EXPECT_EQ(engine.state(), State::Idle);
  EXPECT_EQ(engine.OnShortMessage(ReadyNote).kind, Kind::Ignore);
  (void)RunToCompletion(engine, Image(10));
  EXPECT_EQ(engine.state(), State::Completed);
}

}  // namespace
}  // namespace movrin
