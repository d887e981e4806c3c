#pragma once

// The one place that decides what happens next in a transfer. The caller pushes in what
// happened (Begin, a send's outcome, a short message from the device, the passing of time) and
// carries out the action that comes back: send these bytes, show progress, or stop. The window,
// the command-line sender and the export all run it, so none of them holds a rule of its own.
//
//   Begin -> announce -> ready note -> (request note -> block) x N -> completed
//
// Only the whole 32-bit values ReadyNote and NextNote count. A failed send ends the transfer,
// and a block is never handed out twice.
//
// The device's silence is measured here, on the clock given at construction: the wait starts
// once the announce went out and starts afresh at the ready note and once each requested block
// went out. Notes that do not count never extend it, and no wait runs while a send is under
// way. One message is out at a time: what the device says meanwhile is held, and handled in the
// order it came once the send reported (TakeHeld), as a queue of window messages would be.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "BlockPlan.h"

namespace movrin {

class TransferDriver {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;

  struct Action {
    enum class Kind {
      None,          // nothing to do
      SendAnnounce,  // send `message`, then report with OnSent
      SendBlock,     // send `message`, block `block`, then report with OnSent
      Announced,     // the announce went out; the ready note is awaited
      Started,       // the ready note came: show progress over blockCount blocks
      BlockSent,     // block `block` went out, `bytes` long; blocksSent counts it
      // From here on every kind ends the transfer (Ends()).
      Completed,     // the last block went out (a BlockSent that also ends the transfer)
      InvalidImage,  // empty or too large: nothing begun
      AnnounceFailed,
      BlockFailed,  // block `block` did not go out
      TimedOut,     // the device stayed silent too long
      Aborted,      // the caller gave up
    };
    Kind kind = Kind::None;
    std::vector<std::uint8_t> message;
    std::int64_t block = -1;
    std::int64_t blocksSent = 0;
    std::int64_t blockCount = 0;
    std::size_t bytes = 0;
    // The device's next reply is awaited from now on: its wait started afresh.
    bool waitRestarted = false;

    [[nodiscard]] bool Sends() const {
      return kind == Kind::SendAnnounce || kind == Kind::SendBlock;
    }
    // Completed or stopped: nothing more will be asked for.
    [[nodiscard]] bool Ends() const { return kind >= Kind::Completed; }
  };

  // Without a timeout the transfer waits for the device as long as it takes.
  explicit TransferDriver(std::optional<std::chrono::milliseconds> timeout = std::nullopt,
                          Clock clock = std::chrono::steady_clock::now);

  // SendAnnounce, or InvalidImage when the image fails CheckImageLength.
  [[nodiscard]] Action Begin(std::span<const std::uint8_t> image);
  // Whether the message of the last Send action went out.
  [[nodiscard]] Action OnSent(bool sent);
  // While a send is under way the message is only held, and the result is None.
  [[nodiscard]] Action OnShortMessage(std::uint32_t message);
  // Once the send reported: the action for the held messages, up to the first that counts;
  // None when none is left. Call until None.
  [[nodiscard]] Action TakeHeld();
  // TimedOut once the wait for the device has passed the timeout, else None.
  [[nodiscard]] Action OnTick();
  // Drops a running transfer; nothing more will be asked for.
  Action Abort();

  // When OnTick will time out: only while a reply is awaited and a timeout is set.
  [[nodiscard]] std::optional<TimePoint> Deadline() const;
  [[nodiscard]] bool running() const {
    return state_ == State::WaitingForReady || state_ == State::Sending;
  }
  // Between the ready note and the end of the transfer.
  [[nodiscard]] bool sending() const { return state_ == State::Sending; }
  [[nodiscard]] std::int64_t blocksSent() const { return blocksSent_; }
  [[nodiscard]] std::int64_t blockCount() const { return plan_.blockCount; }
  [[nodiscard]] const BlockPlan& plan() const { return plan_; }

 private:
  enum class State {
    Idle,             // nothing begun, or abandoned
    WaitingForReady,  // announced, waiting for the ready note
    Sending,          // between the ready note and the last block
    Completed,        // every block went out
    Failed,           // the image was refused or a send failed
  };
  // The one message out: the announce, or block blocksSent_.
  enum class InFlight { None, Announce, Block };

  [[nodiscard]] Action Make(Action::Kind kind) const;
  [[nodiscard]] Action Waiting(Action::Kind kind);
  // Ends the transfer in `state`; the packed image is released.
  void End(State state);

  std::optional<std::chrono::milliseconds> timeout_;
  Clock clock_;
  State state_ = State::Idle;
  InFlight inFlight_ = InFlight::None;
  std::vector<std::uint8_t> packed_;
  BlockPlan plan_;
  std::int64_t blocksSent_ = 0;
  std::size_t inFlightBytes_ = 0;
  TimePoint deadline_{};
  std::deque<std::uint32_t> held_;
};

// A transfer driven to its end by a caller that waits on its own: sends with `send`, waits with
// `receive` and hears of everything else through `progressed`.
struct TransferLink {
  // Sends one whole message; false when it did not go out.
  std::function<bool(std::span<const std::uint8_t>)> send;
  // The device's next short message, waiting no later than the deadline when there is one.
  // None when the wait ended without one: the deadline passed, or the caller stops (and
  // remembers why).
  std::function<std::optional<std::uint32_t>(std::optional<TransferDriver::TimePoint> deadline)>
      receive;
  // Every action that neither sends nor waits (Announced, Started, BlockSent, ...), the last one
  // included.
  std::function<void(const TransferDriver::Action&)> progressed;
};

// `first` is what `driver.Begin` returned. Returns the action that ended the transfer; the
// driver is no longer running.
TransferDriver::Action DriveTransfer(TransferDriver& driver, TransferDriver::Action first,
                                     const TransferLink& link);

}  // namespace movrin
