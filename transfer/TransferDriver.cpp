#include "TransferDriver.h"

#include <utility>

namespace movrin {
namespace {

// More than a device says while one block goes out; beyond it is noise and is dropped.
constexpr std::size_t kMostHeld = 256;

}  // namespace

using Action = TransferDriver::Action;
using Kind = Action::Kind;

TransferDriver::TransferDriver(std::optional<std::chrono::milliseconds> timeout, Clock clock)
    : timeout_(timeout), clock_(std::move(clock)) {}

Action TransferDriver::Make(Kind kind) const {
  Action action;
  action.kind = kind;
  action.blocksSent = engine_.blocksSent();
  action.blockCount = engine_.blockCount();
  return action;
}

Action TransferDriver::Waiting(Kind kind) {
  if (timeout_) {
    deadline_ = clock_() + *timeout_;
  }
  Action action = Make(kind);
  action.waitRestarted = true;
  return action;
}

Action TransferDriver::Begin(std::span<const std::uint8_t> image) {
  pending_ = Pending::None;
  held_.clear();
  std::vector<std::uint8_t> announce = engine_.Begin(image);
  if (announce.empty()) {
    return Make(Kind::InvalidImage);
  }
  pending_ = Pending::Announce;
  Action action = Make(Kind::SendAnnounce);
  action.message = std::move(announce);
  return action;
}

Action TransferDriver::OnSent(bool sent) {
  switch (std::exchange(pending_, Pending::None)) {
    case Pending::None:
      return {};
    case Pending::Announce:
      engine_.AnnounceResult(sent);
      return sent ? Waiting(Kind::Announced) : Make(Kind::AnnounceFailed);
    case Pending::Block:
      break;
  }
  engine_.BlockResult(pendingBlock_, sent);
  Action action = !sent                                                 ? Make(Kind::BlockFailed)
                  : engine_.state() == TransferEngine::State::Completed ? Make(Kind::Completed)
                                                                        : Waiting(Kind::BlockSent);
  action.block = pendingBlock_;
  action.bytes = sent ? pendingBytes_ : 0;
  return action;
}

Action TransferDriver::OnShortMessage(std::uint32_t message) {
  if (pending_ != Pending::None) {
    if (held_.size() < kMostHeld) {
      held_.push_back(message);
    }
    return {};
  }
  TransferEngine::Step step = engine_.OnShortMessage(message);
  switch (step.kind) {
    case TransferEngine::Step::Kind::Ignore:
      return {};
    case TransferEngine::Step::Kind::StartSending:
      return Waiting(Kind::Started);
    case TransferEngine::Step::Kind::SendBlock:
      break;
  }
  pending_ = Pending::Block;
  pendingBlock_ = step.blockIndex;
  pendingBytes_ = step.message.size();
  Action action = Make(Kind::SendBlock);
  action.block = step.blockIndex;
  action.message = std::move(step.message);
  return action;
}

Action TransferDriver::TakeHeld() {
  while (pending_ == Pending::None && !held_.empty()) {
    const std::uint32_t message = held_.front();
    held_.pop_front();
    Action action = OnShortMessage(message);
    if (action.kind != Kind::None) {
      return action;
    }
  }
  return {};
}

Action TransferDriver::OnTick() {
  const std::optional<TimePoint> deadline = Deadline();
  if (!deadline || clock_() < *deadline) {
    return {};
  }
  engine_.Abort();
  return Make(Kind::TimedOut);
}

Action TransferDriver::Abort() {
  pending_ = Pending::None;
  held_.clear();
  engine_.Abort();
  return Make(Kind::Aborted);
}

std::optional<TransferDriver::TimePoint> TransferDriver::Deadline() const {
  if (!timeout_ || !running() || pending_ != Pending::None) {
    return std::nullopt;
  }
  return deadline_;
}

Action DriveTransfer(TransferDriver& driver, Action first, const TransferLink& link) {
  Action action = std::move(first);
  for (;;) {
    if (action.Sends()) {
      action = driver.OnSent(link.send(action.message));
      continue;
    }
    if (action.kind != Kind::None && link.progressed) {
      link.progressed(action);
    }
    if (action.Ends()) {
      return action;
    }
    if ((action = driver.TakeHeld()).kind != Kind::None) {
      continue;
    }
    if (const std::optional<std::uint32_t> message = link.receive(driver.Deadline())) {
      action = driver.OnShortMessage(*message);
    } else {
      action = driver.OnTick();
      action = action.kind == Kind::None ? driver.Abort() : action;
    }
  }
}

}  // namespace movrin
