#include "TransferStream.h"

#include "Protocol.h"
#include "TransferEngine.h"

namespace movrin {

std::vector<std::uint8_t> TransferStream(std::span<const std::uint8_t> image) {
  TransferEngine engine;
  std::vector<std::uint8_t> stream = engine.Begin(image);
  if (stream.empty()) {
    return {};
  }
  engine.AnnounceResult(true);
  // The stream's final size is known: one allocation instead of a doubling series.
  const BlockPlan& plan = engine.plan();
  stream.reserve(stream.size() + static_cast<std::size_t>(plan.packedLength) +
                 static_cast<std::size_t>(plan.blockCount) * kBlockOverhead);
  // Play the device: one ready note, then a request for every block.
  if (engine.OnShortMessage(ReadyNote).kind != TransferEngine::Step::Kind::StartSending) {
    return {};
  }
  while (engine.state() == TransferEngine::State::Sending) {
    const auto step = engine.OnShortMessage(NextNote);
    if (step.kind != TransferEngine::Step::Kind::SendBlock) {
      return {};
    }
    const auto block = engine.BuildBlock(step.blockIndex);
    stream.insert(stream.end(), block.begin(), block.end());
    engine.BlockResult(step.blockIndex, true);
  }
  return engine.state() == TransferEngine::State::Completed ? stream : std::vector<std::uint8_t>{};
}

}  // namespace movrin
