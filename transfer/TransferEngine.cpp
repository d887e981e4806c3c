#include "TransferEngine.h"

#include "ImageCheck.h"
#include "Packing.h"
#include "UpdateMessages.h"

namespace movrin {

std::vector<std::uint8_t> TransferEngine::Begin(std::span<const std::uint8_t> image) {
  Release();
  blocksSent_ = 0;
  inFlight_ = -1;
  if (CheckImageLength(image.size()) != ImageCheck::Ok) {
    plan_ = BlockPlan{};
    state_ = State::Failed;
    return {};
  }
  packed_ = PackImage(image);
  plan_ = MakeBlockPlan(static_cast<std::int64_t>(packed_.size()));
  state_ = State::WaitingForReady;
  return AnnounceMessage(static_cast<std::int32_t>(plan_.blockCount));
}

void TransferEngine::AnnounceResult(bool sent) {
  if (!sent && running()) {
    state_ = State::Failed;
    Release();
  }
}

TransferEngine::Step TransferEngine::OnShortMessage(std::uint32_t message) {
  if (message == ReadyNote && state_ == State::WaitingForReady) {
    state_ = State::Sending;
    blocksSent_ = 0;
    return {Step::Kind::StartSending, -1, {}};
  }
  if (message == NextNote && state_ == State::Sending && inFlight_ < 0 &&
      blocksSent_ < plan_.blockCount) {
    inFlight_ = blocksSent_;
    return {Step::Kind::SendBlock, inFlight_, BuildBlock(inFlight_)};
  }
  return {};
}

std::vector<std::uint8_t> TransferEngine::BuildBlock(std::int64_t index) const {
  if (index < 0 || index >= plan_.blockCount || packed_.empty()) {
    return {};
  }
  return BlockMessage(packed_, static_cast<std::int32_t>(index), plan_.BlockLength(index),
                      plan_.blockSize);
}

void TransferEngine::BlockResult(std::int64_t index, bool sent) {
  if (index != inFlight_ || state_ != State::Sending) {
    return;
  }
  inFlight_ = -1;
  if (!sent) {
    state_ = State::Failed;
    Release();
    return;
  }
  ++blocksSent_;
  if (blocksSent_ == plan_.blockCount) {
    state_ = State::Completed;
    Release();
  }
}

void TransferEngine::Abort() {
  if (running()) {
    state_ = State::Idle;
  }
  inFlight_ = -1;
  Release();
}

void TransferEngine::Release() {
  packed_.clear();
  packed_.shrink_to_fit();
}

}  // namespace movrin
