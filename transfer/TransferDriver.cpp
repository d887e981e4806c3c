#include "TransferDriver.h"

#include <utility>

#include "ImageCheck.h"
#include "Packing.h"
#include "UpdateMessages.h"

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
  action.blocksSent = blocksSent_;
  action.blockCount = plan_.blockCount;
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

void TransferDriver::End(State state) {
  state_ = state;
  packed_.clear();
  packed_.shrink_to_fit();
}

Action TransferDriver::Begin(std::span<const std::uint8_t> image) {
  inFlight_ = InFlight::None;
  held_.clear();
  blocksSent_ = 0;
  if (CheckImageLength(image.size()) != ImageCheck::Ok) {
    plan_ = BlockPlan{};
    End(State::Failed);
    return Make(Kind::InvalidImage);
  }
  packed_ = PackImage(image);
  plan_ = MakeBlockPlan(static_cast<std::int64_t>(packed_.size()));
  state_ = State::WaitingForReady;
  inFlight_ = InFlight::Announce;
  Action action = Make(Kind::SendAnnounce);
  action.message = AnnounceMessage(static_cast<std::int32_t>(plan_.blockCount));
  return action;
}

Action TransferDriver::OnSent(bool sent) {
  switch (std::exchange(inFlight_, InFlight::None)) {
    case InFlight::None:
      return {};
    case InFlight::Announce:
      if (!sent) {
        End(State::Failed);
        return Make(Kind::AnnounceFailed);
      }
      return Waiting(Kind::Announced);
    case InFlight::Block:
      break;
  }
  const std::int64_t block = blocksSent_;
  Action action;
  if (!sent) {
    End(State::Failed);
    action = Make(Kind::BlockFailed);
  } else if (++blocksSent_ == plan_.blockCount) {
    End(State::Completed);
    action = Make(Kind::Completed);
  } else {
    action = Waiting(Kind::BlockSent);
  }
  action.block = block;
  action.bytes = sent ? inFlightBytes_ : 0;
  return action;
}

Action TransferDriver::OnShortMessage(std::uint32_t message) {
  if (inFlight_ != InFlight::None) {
    if (held_.size() < kMostHeld) {
      held_.push_back(message);
    }
    return {};
  }
  if (message == ReadyNote && state_ == State::WaitingForReady) {
    state_ = State::Sending;
    blocksSent_ = 0;
    return Waiting(Kind::Started);
  }
  if (message != NextNote || state_ != State::Sending || blocksSent_ >= plan_.blockCount) {
    return {};
  }
  inFlight_ = InFlight::Block;
  Action action = Make(Kind::SendBlock);
  action.block = blocksSent_;
  action.message = BlockMessage(packed_, static_cast<std::int32_t>(blocksSent_),
                                plan_.BlockLength(blocksSent_), plan_.blockSize);
  inFlightBytes_ = action.message.size();
  return action;
}

Action TransferDriver::TakeHeld() {
  while (inFlight_ == InFlight::None && !held_.empty()) {
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
  End(State::Idle);
  return Make(Kind::TimedOut);
}

Action TransferDriver::Abort() {
  inFlight_ = InFlight::None;
  held_.clear();
  End(running() ? State::Idle : state_);
  return Make(Kind::Aborted);
}

std::optional<TransferDriver::TimePoint> TransferDriver::Deadline() const {
  if (!timeout_ || !running() || inFlight_ != InFlight::None) {
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
