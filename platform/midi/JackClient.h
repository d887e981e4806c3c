#pragma once

// One connection to a JACK server that is already running: never starts one, never prints.
// Every call that needs the server is bounded (JackCalls.h). Whatever a process callback reads
// is shared with the closing thread, so it outlives the client however late the close ends.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "MidiBackend.h"

namespace movrin {

// What a process callback works on: owned jointly by the port and its client.
class JackCycle {
 public:
  virtual ~JackCycle() = default;
  virtual void Run(jack_nframes_t frames) = 0;

  jack_port_t* port = nullptr;           // owned by the client, set before it is activated
  std::atomic<std::uint64_t> cycles{0};  // periods this port's client has run
};

// A wait that lasts as long as the server runs the cycles of one client: a late cycle, however
// late, is still a cycle. Over once a whole `limit` passed without one.
class CycleWatch {
 public:
  CycleWatch(const JackCycle& cycle, std::chrono::milliseconds limit)
      : cycle_(cycle), limit_(limit), seen_(cycle.cycles.load()) {}

  [[nodiscard]] bool Stopped() {
    const auto now = std::chrono::steady_clock::now();
    if (const std::uint64_t cycles = cycle_.cycles.load(); cycles != seen_) {
      seen_ = cycles;
      since_ = now;
    }
    return now - since_ > limit_;
  }

 private:
  const JackCycle& cycle_;
  const std::chrono::milliseconds limit_;
  std::uint64_t seen_;
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

class JackClient {
 public:
  struct Opened;

  // Opening a client, registering, activating and connecting it.
  static constexpr std::chrono::milliseconds kOpenLimit{kServerAnswerLimit};

  // The port-less client for listing and checks, activated: it hears of xruns, and its cycles
  // tell a stopped server from a busy one before any port is open.
  [[nodiscard]] static Opened OpenControl(const std::string& name);
  // A client with one port, activated: `portName` is registered with `flags` and `cycle` runs
  // each period; unless `peer` is empty the port is then connected to it (in the direction
  // `flags` implies) and the connection confirmed. JACK may add a suffix to `name`.
  [[nodiscard]] static Opened OpenPort(const std::string& name, const std::string& portName,
                                       unsigned long flags, const std::string& peer,
                                       std::shared_ptr<JackCycle> cycle);

  // Closes on a thread of its own, and waits for that only briefly.
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // Routes libjack's own messages to nowhere, for the whole process: a desktop program must
  // not print "Cannot connect to server socket" on every probe.
  static void SilenceLibrary();

  [[nodiscard]] jack_client_t* get() const { return client_; }
  [[nodiscard]] jack_port_t* port() const { return cycle_ ? cycle_->port : nullptr; }
  // The server went away; every later call on this client is futile.
  [[nodiscard]] bool serverGone() const { return status_->gone.load(); }
  // Cycles the server reported it fell behind in, since this client was opened.
  [[nodiscard]] std::uint64_t xruns() const { return status_->xruns.load(); }

  // A MIDI port with all of `flags` (JackPortIsInput, JackPortIsOutput) exists under that name.
  [[nodiscard]] bool HasMidiPort(const std::string& fullName, unsigned long flags) const;
  // Our port connected to `peer`, confirmed in the graph; reconnects a cut connection.
  [[nodiscard]] MidiError Connect(const std::string& peer);

 private:
  struct Status {
    std::atomic<bool> gone{false};
    std::atomic<std::uint64_t> xruns{0};
    // Among the active clients whose cycles tell a stall: from activation until the close, or
    // until the server went away (a dead server's clients must not make a new one look stalled).
    std::atomic<bool> counted{false};
    std::mutex calls;  // held by a call on the client, and by its close
  };

  JackClient(jack_client_t* client, std::shared_ptr<JackCycle> cycle);
  [[nodiscard]] static bool HasMidiPortOn(jack_client_t* client, const std::string& fullName,
                                          unsigned long flags);
  [[nodiscard]] static MidiError ConnectNow(jack_client_t* client, const JackCycle& cycle,
                                            const Status& status, const std::string& peer);
  static int Process(jack_nframes_t frames, void* cycle);
  static int Heartbeat(jack_nframes_t frames, void* unused);
  static void OnShutdown(void* status);
  static int OnXrun(void* status);
  // Both factories: the control client has no port and no cycle of its own.
  [[nodiscard]] static Opened Open(const std::string& name, const std::string& portName,
                                   unsigned long flags, const std::string& peer,
                                   std::shared_ptr<JackCycle> cycle);

  jack_client_t* client_;
  std::shared_ptr<JackCycle> cycle_;
  std::shared_ptr<Status> status_ = std::make_shared<Status>();
};

struct JackClient::Opened {
  std::unique_ptr<JackClient> client;
  MidiError error = MidiError::None;
  bool unanswered = false;  // the server took no part within kOpenLimit: it is stalled
};

}  // namespace movrin
