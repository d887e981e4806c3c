#pragma once

// The one loop that carries out a transfer: sends the announce, feeds the engine the device's
// short messages and sends each block the engine hands out. Where the messages come from and
// where the bytes go is the caller's: MIDI ports for a live transfer, a byte stream for an
// export, a scripted device in the tests.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "TransferEngine.h"

namespace movrin {

struct TransferLink {
  // The device's next short message. None stops the transfer: the caller decides when waiting
  // is over (a timeout, an interrupt, a port that went away) and remembers why.
  std::function<std::optional<std::uint32_t>()> receive;
  // Sends one whole message; false when it did not go out.
  std::function<bool(std::span<const std::uint8_t>)> send;
  // After the ready note (StartSending) and after each block that went out (SendBlock), with
  // the size of the message sent.
  std::function<void(const TransferEngine::Step& step, std::size_t bytesSent)> progressed;
};

enum class DriveResult { Completed, AnnounceFailed, BlockSendFailed, Stopped };

// `announce` is what `engine.Begin` returned. Returns with the engine no longer running.
[[nodiscard]] DriveResult DriveTransfer(TransferEngine& engine,
                                        std::span<const std::uint8_t> announce,
                                        const TransferLink& link);

}  // namespace movrin
