#pragma once

// A JACK MIDI output on a client of its own, fed by our own process callback. RtMidi's JACK
// output only copies into a ring and never says when (or whether) a message left; here every
// message carries a sequence number, so a send can wait until its bytes were written into the
// port buffer and that cycle has ended, and a message given up on is dropped, never played
// into a later send.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "JackClient.h"
#include "MidiBackend.h"

namespace movrin {

class JackOutputPort {
 public:
  struct OpenResult {
    std::unique_ptr<JackOutputPort> port;
    MidiError error = MidiError::None;
  };

  // Registers `portName` on a new client named `clientName` (JACK may add a suffix) and, unless
  // `destination` is empty, connects it there and confirms the connection.
  [[nodiscard]] static OpenResult Open(const std::string& clientName, const std::string& portName,
                                       const std::string& destination);

  ~JackOutputPort();
  JackOutputPort(const JackOutputPort&) = delete;
  JackOutputPort& operator=(const JackOutputPort&) = delete;

  // With a drain timeout: returns once the message has been played out. Without: once it is
  // queued for the next cycle. A port with a destination checks its peer before queueing, and
  // the process callback writes a message only while the port is connected there: a message
  // written in a cycle that has ended was delivered, even if the peer closed right after (a
  // device that reboots once it has the last block).
  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message,
                               std::optional<std::chrono::milliseconds> drainTimeout);

  [[nodiscard]] const std::string& destination() const { return destination_; }
  [[nodiscard]] std::string fullName() const { return jack_port_name(port_); }

 private:
  struct Record {
    std::uint64_t sequence;
    std::uint32_t size;
  };

  JackOutputPort(std::unique_ptr<JackClient> client, std::string destination);
  static int Process(jack_nframes_t frames, void* self);
  void RunCycle(jack_nframes_t frames);
  [[nodiscard]] MidiError CheckPeer();
  [[nodiscard]] MidiError Connect();

  // A single-producer, single-consumer ring of records: senders (one at a time, under
  // sendMutex_) append whole records, the process thread consumes them. The indices count bytes
  // ever written and read; a record becomes visible with one release store.
  [[nodiscard]] std::size_t RingWritable() const;
  void RingAppend(const Record& record, std::span<const std::uint8_t> bytes);
  void RingCopyOut(std::size_t from, void* to, std::size_t size) const;

  std::vector<std::uint8_t> ring_;
  std::atomic<std::size_t> ringHead_{0};
  std::atomic<std::size_t> ringTail_{0};

  std::unique_ptr<JackClient> client_;  // closed first of all: it stops the process callback
  jack_port_t* port_ = nullptr;         // owned by client_
  std::string destination_;

  std::mutex sendMutex_;
  std::uint64_t queued_ = 0;  // last sequence handed to the ring; sender side only

  // Written by the process callback, read by senders.
  std::atomic<std::uint64_t> played_{0};       // written in a cycle that has ended
  std::atomic<std::uint64_t> dropped_{0};      // last one too large for a port buffer
  std::atomic<std::uint64_t> unconnected_{0};  // last one not written: no peer at that cycle
  std::atomic<std::uint64_t> discardUpTo_{0};  // written by senders that gave up
  std::uint64_t written_ = 0;                  // process callback only
};

}  // namespace movrin
