#pragma once

// A JACK MIDI output on a client of its own, fed by our own process callback. RtMidi's JACK
// output only copies into a ring and never says when (or whether) a message left; here every
// message carries a sequence number, so a send can wait until its bytes were written into the
// port buffer and that cycle has ended, and a message given up on is dropped, never played
// into a later send.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "JackClient.h"
#include "MidiBackend.h"

namespace movrin {

class JackOutputPort final : public MidiOutput {
 public:
  using OpenResult = Opened<JackOutputPort>;

  // Registers `portName` on a new client named `clientName` (JACK may add a suffix) and, unless
  // `destination` is empty, connects it there and confirms the connection. Send(message) waits
  // as Send(message, drainTimeout) does, or not at all.
  [[nodiscard]] static OpenResult Open(
      const std::string& clientName, const std::string& portName, const std::string& destination,
      std::optional<std::chrono::milliseconds> drainTimeout = std::nullopt);

  ~JackOutputPort() override;

  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message) override {
    return Send(message, drainTimeout_);
  }

  // With a drain timeout: returns once the message has been played out, however many cycles
  // that takes, and gives up only when the server has gone or ran no cycle of this port for the
  // whole timeout. Without: once it is queued for the next cycle. A port with a destination checks
  // its peer before queueing, and the process callback writes a message only while the port is
  // connected there: a message written in a cycle that has ended was delivered, even if the peer
  // closed right after (a device that reboots once it has the last block).
  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message,
                               std::optional<std::chrono::milliseconds> drainTimeout);

  [[nodiscard]] const std::string& destination() const;
  [[nodiscard]] std::string fullName() const { return jack_port_name(client_->port()); }

 private:
  class Player;

  JackOutputPort(std::shared_ptr<Player> player,
                 std::optional<std::chrono::milliseconds> drainTimeout);
  [[nodiscard]] MidiError CheckPeer();

  std::shared_ptr<Player> player_;
  std::optional<std::chrono::milliseconds> drainTimeout_;
  std::mutex sendMutex_;
  std::uint64_t queued_ = 0;  // last sequence handed to the ring; under sendMutex_
  std::unique_ptr<JackClient> client_;
};

}  // namespace movrin
