#pragma once

// A JACK MIDI input on a client of its own. RtMidi's JACK input unregisters its port while its
// process callback may still be reading it, which crashes now and then at close. Here the
// process callback only copies events into a ring, a thread of ours hands them on, and closing
// stops the callback before anything it touches goes away.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "JackClient.h"
#include "MidiBackend.h"

namespace movrin {

class JackInputPort {
 public:
  // Runs on the delivery thread with each complete message, in arrival order.
  using Deliver = std::function<void(std::span<const std::uint8_t>)>;

  struct OpenResult {
    std::unique_ptr<JackInputPort> port;
    MidiError error = MidiError::None;
  };

  // Registers `portName` on a new client named `clientName` (JACK may add a suffix) and, unless
  // `source` is empty, connects the source to it and confirms the connection.
  [[nodiscard]] static OpenResult Open(const std::string& clientName, const std::string& portName,
                                       const std::string& source, Deliver deliver);

  // After it returns `deliver` is never called again. Must not run on the delivery thread.
  ~JackInputPort();
  JackInputPort(const JackInputPort&) = delete;
  JackInputPort& operator=(const JackInputPort&) = delete;

  [[nodiscard]] std::string fullName() const { return jack_port_name(port_); }
  // Events that did not fit into the ring (or messages too long to keep), dropped.
  [[nodiscard]] std::uint64_t dropped() const { return dropped_.load(); }

 private:
  JackInputPort(std::unique_ptr<JackClient> client, Deliver deliver);
  static int Process(jack_nframes_t frames, void* self);
  void RunCycle(jack_nframes_t frames);
  void Run();
  void Hand(std::span<const std::uint8_t> message);
  void Wake() noexcept;
  [[nodiscard]] MidiError Connect(const std::string& source);

  // Single producer (the process callback), single consumer (the delivery thread). Each event
  // is a 32-bit size and its bytes; the indices count bytes ever written and read.
  [[nodiscard]] bool RingPush(const std::uint8_t* bytes, std::size_t size);
  [[nodiscard]] bool RingPop(std::vector<std::uint8_t>& event);
  void RingCopyIn(std::size_t at, const void* from, std::size_t size);
  void RingCopyOut(std::size_t from, void* to, std::size_t size) const;

  std::vector<std::uint8_t> ring_;
  std::atomic<std::size_t> ringHead_{0};
  std::atomic<std::size_t> ringTail_{0};
  // An eventfd written after each cycle that queued something, and to stop: the delivery thread
  // polls it. A write is one system call, without locks or allocation.
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> dropped_{0};

  Deliver deliver_;
  std::unique_ptr<JackClient> client_;  // closed first of all: it stops the process callback
  jack_port_t* port_ = nullptr;         // owned by client_
  std::thread delivery_;
};

}  // namespace movrin
