// The handshake fed arbitrary sequences of device messages and send results. Whatever comes,
// a block goes out only after a request note while sending, never twice, never past the last,
// in order, and the transfer completes only after exactly every block.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Protocol.h"
#include "TransferEngine.h"
#include "UpdateMessages.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  using movrin::TransferEngine;
  using Kind = TransferEngine::Step::Kind;
  using State = TransferEngine::State;

  // The first two bytes choose the image size: up to about 18 blocks.
  const std::size_t imageSize = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % 16384;
  const std::vector<std::uint8_t> image(imageSize, 0xA5);
  TransferEngine engine;
  const auto announce = engine.Begin(image);
  Check(announce.empty() == (imageSize == 0));
  const std::int64_t blocks = engine.blockCount();

  std::int64_t nextIndex = 0;
  std::int64_t inFlight = -1;
  bool sawReady = false;
  for (std::size_t i = 2; i < size; ++i) {
    const std::uint8_t op = data[i];
    const State before = engine.state();
    switch (op % 6) {
      case 0:
        engine.AnnounceResult(op & 0x80);
        if (!(op & 0x80) && (before == State::WaitingForReady || before == State::Sending)) {
          Check(engine.state() == State::Failed);
          inFlight = -1;  // the block in flight no longer counts
        }
        break;
      case 1:
      case 2: {
        const std::uint32_t message =
            op % 6 == 1 ? movrin::ReadyNote : (op & 0x40 ? movrin::NextNote : op * 0x010203u);
        const auto step = engine.OnShortMessage(message);
        if (step.kind == Kind::StartSending) {
          Check(message == movrin::ReadyNote && before == State::WaitingForReady && !sawReady);
          sawReady = true;
        }
        if (step.kind == Kind::SendBlock) {
          Check(message == movrin::NextNote && before == State::Sending && inFlight < 0);
          Check(step.blockIndex == nextIndex && step.blockIndex < blocks);
          const auto parsed = movrin::ParseUpdateMessage(step.message);
          Check(parsed.ok() && parsed.value == (step.blockIndex & 0xFFFF));
          inFlight = step.blockIndex;
        }
        break;
      }
      case 3:
      case 4:
        if (inFlight >= 0) {
          const bool ok = (op & 0x80) == 0 || op % 6 == 3;
          engine.BlockResult(inFlight, ok);
          inFlight = -1;
          if (ok) {
            ++nextIndex;
            Check(engine.blocksSent() == nextIndex);
            Check((engine.state() == State::Completed) == (nextIndex == blocks));
          } else {
            Check(engine.state() == State::Failed);
          }
        } else {
          engine.BlockResult(op % 4, true);  // a stale result must change nothing
          Check(engine.state() == before && engine.blocksSent() == nextIndex);
        }
        break;
      case 5:
        if (op & 0x80) {
          engine.Abort();
          inFlight = -1;
          Check(!engine.running());
        }
        break;
    }
    if (engine.state() == State::Completed) {
      Check(engine.blocksSent() == blocks && engine.packed().empty());
    }
  }
  return 0;
}
