#pragma once

// One connection to a JACK server that is already running: never starts one, never prints.
// Heap-only, because JACK calls back into it by address.

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace movrin {

class JackClient {
 public:
  // nullptr when no server is reachable (JACK_DEFAULT_SERVER names the server).
  [[nodiscard]] static std::unique_ptr<JackClient> Open(const std::string& name);

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

  [[nodiscard]] jack_client_t* get() const { return client_; }
  // The server went away; every later call on this client is futile.
  [[nodiscard]] bool serverGone() const { return serverGone_.load(); }

  // A MIDI port with all of `flags` (JackPortIsInput, JackPortIsOutput) exists under that name.
  [[nodiscard]] bool HasMidiPort(const std::string& fullName, unsigned long flags) const;
  [[nodiscard]] std::vector<std::string> ConnectionsOf(const std::string& fullName) const;

 private:
  explicit JackClient(jack_client_t* client);
  static void OnShutdown(void* self);

  jack_client_t* client_;
  std::atomic<bool> serverGone_{false};
};

}  // namespace movrin
