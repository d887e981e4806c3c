#pragma once

// The handshake that paces a transfer, kept free of ports and widgets. TransferDriver runs it
// for every caller: the engine says what to send and is told whether it went out.
//
//   Begin -> announce -> ready note -> (request note -> block) x N -> completed
//
// Only the whole 32-bit values ReadyNote and NextNote count. A failed send ends the transfer,
// and a block is never handed out twice, also when replies arrive while the caller is still
// busy with the previous one.

#include <cstdint>
#include <span>
#include <vector>

#include "BlockPlan.h"

namespace movrin {

class TransferEngine {
 public:
  enum class State {
    Idle,             // nothing begun, or abandoned
    WaitingForReady,  // announced, waiting for the ready note
    Sending,          // between the ready note and the last block
    Completed,        // every block went out
    Failed,           // a send failed; nothing more goes out
  };

  struct Step {
    enum class Kind {
      Ignore,        // nothing to do
      StartSending,  // the ready note came: show progress over BlockCount() blocks
      SendBlock,     // send `message`, block `blockIndex`, then report with BlockResult
    };
    Kind kind = Kind::Ignore;
    std::int64_t blockIndex = -1;
    std::vector<std::uint8_t> message;  // the whole block message, for SendBlock
  };

  // Packs the image and returns the announce message; the image must pass CheckImageLength,
  // otherwise nothing is begun, the state is Failed and the result is empty.
  [[nodiscard]] std::vector<std::uint8_t> Begin(std::span<const std::uint8_t> image);

  // Whether the announce message went out; a failed announce ends the attempt.
  void AnnounceResult(bool sent);

  // Feeds one short message from the device.
  [[nodiscard]] Step OnShortMessage(std::uint32_t message);

  // Whether the block handed out last went out. After the last block the state is Completed
  // and the packed image is released; after a failure the state is Failed.
  void BlockResult(std::int64_t index, bool sent);

  // Drops a running transfer; nothing more will be handed out.
  void Abort();

  [[nodiscard]] State state() const { return state_; }
  [[nodiscard]] bool running() const {
    return state_ == State::WaitingForReady || state_ == State::Sending;
  }
  [[nodiscard]] const BlockPlan& plan() const { return plan_; }
  [[nodiscard]] std::int64_t blockCount() const { return plan_.blockCount; }
  [[nodiscard]] std::int64_t blocksSent() const { return blocksSent_; }
  [[nodiscard]] std::span<const std::uint8_t> packed() const { return packed_; }

 private:
  [[nodiscard]] std::vector<std::uint8_t> BuildBlock(std::int64_t index) const;
  void Release();

  std::vector<std::uint8_t> packed_;
  BlockPlan plan_;
  State state_ = State::Idle;
  std::int64_t blocksSent_ = 0;
  std::int64_t inFlight_ = -1;
};

}  // namespace movrin
