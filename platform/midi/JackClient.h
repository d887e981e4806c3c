#pragma once

// One connection to a JACK server that is already running: never starts one, never prints.
// A stalled server (stopped, or starved of CPU) answers no request, and libjack waits for its
// answer without limit. So every call that needs the server runs on a thread of its own and
// the caller waits for it only so long; a call left behind ends, and cleans up after itself,
// whenever the server answers, or never. Whatever a process callback reads is shared with that
// thread, so it outlives the client however late the close ends.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

// What a process callback works on: owned jointly by the port and its client.
class JackCycle {
 public:
  virtual ~JackCycle() = default;
  virtual void Run(jack_nframes_t frames) = 0;

  jack_port_t* port = nullptr;  // owned by the client, set before it is activated
};

class JackClient {
 public:
  struct Opened;

  // Opening a client, registering, activating and connecting it.
  static constexpr std::chrono::milliseconds kOpenLimit{kServerAnswerLimit};

  // A client named `name` (JACK may add a suffix), activated. With a cycle, `portName` is
  // registered with `flags` and the cycle runs each period; unless `peer` is empty the port is
  // then connected to it (in the direction `flags` implies) and the connection confirmed.
  [[nodiscard]] static Opened Open(const std::string& name, const std::string& portName = {},
                                   unsigned long flags = 0, const std::string& peer = {},
                                   std::shared_ptr<JackCycle> cycle = nullptr);

  // Closes on a thread of its own, and waits for that only briefly.
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // Routes libjack's own messages to nowhere, for the whole process: a desktop program must
  // not print "Cannot connect to server socket" on every probe.
  static void SilenceLibrary();

  // ThreadSanitizer cannot see how JACK orders the process callbacks of clients (futexes in
  // shared memory, inside a library it does not instrument), so a port buffer written by one
  // of our clients and read by another in this process looks unsynchronised. Process callbacks
  // call these at their start and end; outside such builds they do nothing.
  static void CycleBegins();
  static void CycleEnds();

  // No cycle for a while although a client of ours is active: a loaded server still runs
  // cycles, a stopped one none.
  [[nodiscard]] static bool CyclesStopped();
  // That, or the server left a call of ours unanswered.
  [[nodiscard]] static bool Stalled();

  // Runs `work` on a thread of its own and returns its result, or nothing once `limit` passed
  // or `futile` says waiting is. A result that comes too late is dropped on that thread.
  template <typename T>
  [[nodiscard]] static std::optional<T> Bounded(std::chrono::milliseconds limit,
                                                std::function<T()> work,
                                                bool (*futile)() = &CyclesStopped);

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
    std::mutex calls;  // held by a call on the client, and by its close
  };

  JackClient(jack_client_t* client, std::shared_ptr<JackCycle> cycle);
  [[nodiscard]] static bool HasMidiPortOn(jack_client_t* client, const std::string& fullName,
                                          unsigned long flags);
  [[nodiscard]] static MidiError ConnectNow(jack_client_t* client, jack_port_t* ours,
                                            const Status& status, const std::string& peer);
  static int Process(jack_nframes_t frames, void* cycle);
  static int Heartbeat(jack_nframes_t frames, void* unused);
  static void OnShutdown(void* status);
  static int OnXrun(void* status);
  static void LeftBehind(int change);

  jack_client_t* client_;
  std::shared_ptr<JackCycle> cycle_;
  std::shared_ptr<Status> status_ = std::make_shared<Status>();
  bool counted_ = false;  // among the active clients whose cycles tell a stall (all, once open)
};

struct JackClient::Opened {
  std::unique_ptr<JackClient> client;
  MidiError error = MidiError::None;
  bool unanswered = false;  // the server took no part within kOpenLimit: it is stalled
};

template <typename T>
std::optional<T> JackClient::Bounded(std::chrono::milliseconds limit, std::function<T()> work,
                                     bool (*futile)()) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> result;
    bool abandoned = false;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work = std::move(work)] {
      std::optional<T> result(work());
      std::unique_lock lock(shared->mutex);
      if (!shared->abandoned) {
        shared->result = std::move(result);
        shared->done.notify_all();
        return;
      }
      lock.unlock();
      result.reset();  // before the count drops: closing what it made may wait as well
      LeftBehind(-1);
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(shared->mutex);
  while (!shared->result) {
    if (futile() || std::chrono::steady_clock::now() >= deadline) {
      shared->abandoned = true;
      LeftBehind(+1);
      return std::nullopt;
    }
    shared->done.wait_for(lock, std::chrono::milliseconds{20});
  }
  return std::move(shared->result);
}

}  // namespace movrin
