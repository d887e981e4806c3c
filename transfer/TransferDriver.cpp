#include "TransferDriver.h"

namespace movrin {

DriveResult DriveTransfer(TransferEngine& engine, std::span<const std::uint8_t> announce,
                          const TransferLink& link) {
  const bool announced = link.send(announce);
  engine.AnnounceResult(announced);
  if (!announced) {
    return DriveResult::AnnounceFailed;
  }
  for (;;) {
    const std::optional<std::uint32_t> message = link.receive();
    if (!message) {
      engine.Abort();
      return DriveResult::Stopped;
    }
    const TransferEngine::Step step = engine.OnShortMessage(*message);
    std::size_t bytes = 0;
    if (step.kind == TransferEngine::Step::Kind::SendBlock) {
      const std::vector<std::uint8_t> block = engine.BuildBlock(step.blockIndex);
      const bool sent = link.send(block);
      engine.BlockResult(step.blockIndex, sent);
      if (!sent) {
        return DriveResult::BlockSendFailed;
      }
      bytes = block.size();
    }
    if (step.kind != TransferEngine::Step::Kind::Ignore && link.progressed) {
      link.progressed(step, bytes);
    }
    if (engine.state() == TransferEngine::State::Completed) {
      return DriveResult::Completed;
    }
  }
}

}  // namespace movrin
