#pragma once

// A JACK MIDI input on a client of its own. RtMidi's JACK input unregisters its port while its
// process callback may still be reading it, which crashes now and then at close. Here the
// process callback only copies events into a ring, a thread of ours hands them on, and the
// ring outlives the client.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "JackClient.h"
#include "MidiBackend.h"

namespace movrin {

class JackInputPort final : public MidiInput {
 public:
  // Runs on the delivery thread with each complete message, in arrival order.
  using Deliver = std::function<void(std::span<const std::uint8_t>)>;

  using OpenResult = Opened<JackInputPort>;

  // Registers `portName` on a new client named `clientName` (JACK may add a suffix) and, unless
  // `source` is empty, connects the source to it and confirms the connection.
  [[nodiscard]] static OpenResult Open(const std::string& clientName, const std::string& portName,
                                       const std::string& source, Deliver deliver);

  // After it returns `deliver` is never called again. Must not run on the delivery thread.
  ~JackInputPort() override;

  [[nodiscard]] std::string fullName() const { return jack_port_name(client_->port()); }
  // Events that did not fit into the ring, and messages dropped as broken or too long.
  [[nodiscard]] std::uint64_t dropped() const;

 private:
  class Feed;

  JackInputPort(std::shared_ptr<Feed> feed, Deliver deliver);
  void Run();

  std::shared_ptr<Feed> feed_;
  Deliver deliver_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> broken_{0};
  std::thread delivery_;
  std::unique_ptr<JackClient> client_;
};

}  // namespace movrin
