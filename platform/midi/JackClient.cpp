#include "JackClient.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "JackCalls.h"

namespace movrin {

namespace {

using std::chrono::milliseconds;

// Long enough for a close on a loaded machine, short enough for Ctrl-C.
constexpr milliseconds kCloseLimit{1000};
constexpr milliseconds kReconnectLimit{2000};
// Connections show up in the graph only after the server's next cycle.
constexpr milliseconds kConnectTimeout{1000};
constexpr milliseconds kPollInterval{1};

// A running server refuses a new client (JackServerError) while it tells the others of it and
// one of them has just closed its socket: asked again a moment later, it takes the client.
constexpr int kRefusedTries = 5;
constexpr milliseconds kRefusedPause{20};

jack_client_t* OpenRefusedAgain(const std::string& name) {
  for (int attempt = 1;; ++attempt) {
    jack_status_t status{};
    jack_client_t* raw = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (raw != nullptr || (status & JackServerError) == 0 || attempt == kRefusedTries) {
      return raw;
    }
    std::this_thread::sleep_for(kRefusedPause);
  }
}

void Quiet(const char* /*message*/) {}

}  // namespace

void JackClient::SilenceLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
  });
}

JackClient::Opened JackClient::OpenControl(const std::string& name) {
  return Open(name, {}, 0, {}, nullptr);
}

JackClient::Opened JackClient::OpenPort(const std::string& name, const std::string& portName,
                                        unsigned long flags, const std::string& peer,
                                        std::shared_ptr<JackCycle> cycle) {
  return Open(name, portName, flags, peer, std::move(cycle));
}

JackClient::Opened JackClient::Open(const std::string& name, const std::string& portName,
                                    unsigned long flags, const std::string& peer,
                                    std::shared_ptr<JackCycle> cycle) {
  SilenceLibrary();
  IgnoreBrokenPipe();
  auto opened = jack_calls::Bounded<Opened>(JackClient::kOpenLimit, [=]() -> Opened {
    jack_client_t* raw = OpenRefusedAgain(name);
    if (raw == nullptr) {
      return {nullptr, MidiError::Unavailable};
    }
    std::unique_ptr<JackClient> client(new JackClient(raw, cycle));
    jack_on_shutdown(raw, &OnShutdown, client->status_.get());
    if (cycle == nullptr) {
      // The client for listing hears of xruns; port clients would count each one again. Its
      // own cycles tell a stopped server from a busy one before any port is open, so that no
      // call waits the whole open limit on a server that has stopped.
      jack_set_xrun_callback(raw, &OnXrun, client->status_.get());
      if (jack_set_process_callback(raw, &Heartbeat, nullptr) != 0) {
        return {nullptr, MidiError::OpenFailed};
      }
    } else {
      const unsigned long peerFlags =
          (flags & JackPortIsInput) != 0 ? JackPortIsOutput : JackPortIsInput;
      if (!peer.empty() && !client->HasMidiPort(peer, peerFlags)) {
        return {nullptr, MidiError::NoSuchPort};
      }
      cycle->port = jack_port_register(raw, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
      if (cycle->port == nullptr || jack_set_process_callback(raw, &Process, cycle.get()) != 0) {
        return {nullptr, MidiError::OpenFailed};
      }
    }
    if (jack_activate(raw) != 0) {
      return {nullptr, MidiError::OpenFailed};
    }
    jack_calls::CountActive(+1);
    client->status_->counted.store(true);
    if (!peer.empty()) {
      if (const MidiError error = ConnectNow(raw, *cycle, *client->status_, peer);
          error != MidiError::None) {
        return {nullptr, error};
      }
    }
    return {std::move(client), MidiError::None};
  });
  return opened ? std::move(*opened) : Opened{nullptr, MidiError::Unavailable, true};
}

JackClient::JackClient(jack_client_t* client, std::shared_ptr<JackCycle> cycle)
    : client_(client), cycle_(std::move(cycle)) {}

JackClient::~JackClient() {
  if (status_->counted.exchange(false)) {
    jack_calls::CountActive(-1);
  }
  // The closing thread holds what the process callback reads until the client is closed: only
  // then can no callback run any more.
  [[maybe_unused]] const auto closed = jack_calls::Bounded<bool>(
      kCloseLimit,
      [client = client_, cycle = cycle_, status = status_] {
        std::lock_guard calls(status->calls);
        jack_deactivate(client);
        jack_client_close(client);
        return true;
      },
      &jack_calls::Stalled);
}

int JackClient::Process(jack_nframes_t frames, void* cycle) {
  jack_calls::CycleBegins();
  jack_calls::NoteCycle();
  auto* client = static_cast<JackCycle*>(cycle);
  client->Run(frames);
  client->cycles.fetch_add(1);
  jack_calls::CycleEnds();
  return 0;
}

int JackClient::Heartbeat(jack_nframes_t /*frames*/, void* /*unused*/) {
  jack_calls::NoteCycle();
  return 0;
}

void JackClient::OnShutdown(void* status) {
  auto* client = static_cast<Status*>(status);
  client->gone.store(true);
  if (client->counted.exchange(false)) {
    jack_calls::CountActive(-1);
  }
}

int JackClient::OnXrun(void* status) {
  static_cast<Status*>(status)->xruns.fetch_add(1);
  return 0;
}

bool JackClient::HasMidiPort(const std::string& fullName, unsigned long flags) const {
  return HasMidiPortOn(client_, fullName, flags);
}

bool JackClient::HasMidiPortOn(jack_client_t* client, const std::string& fullName,
                               unsigned long flags) {
  const jack_port_t* port = jack_port_by_name(client, fullName.c_str());
  if (port == nullptr) {
    return false;
  }
  const auto portFlags = static_cast<unsigned long>(jack_port_flags(port));
  const char* type = jack_port_type(port);
  return (portFlags & flags) == flags && type != nullptr &&
         std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) == 0;
}

MidiError JackClient::Connect(const std::string& peer) {
  // Left behind, the call must not outlive the client: the close waits for it.
  const auto connected = jack_calls::Bounded<MidiError>(
      kReconnectLimit, [client = client_, cycle = cycle_, status = status_, peer] {
        std::lock_guard calls(status->calls);
        return ConnectNow(client, *cycle, *status, peer);
      });
  return connected.value_or(MidiError::Unavailable);
}

MidiError JackClient::ConnectNow(jack_client_t* client, const JackCycle& cycle,
                                 const Status& status, const std::string& peer) {
  jack_port_t* ours = cycle.port;
  const bool weSend = (jack_port_flags(ours) & JackPortIsOutput) != 0;
  const unsigned long peerFlags = weSend ? JackPortIsInput : JackPortIsOutput;
  const char* ourName = jack_port_name(ours);
  const int result = weSend ? jack_connect(client, ourName, peer.c_str())
                            : jack_connect(client, peer.c_str(), ourName);
  if (result != 0 && result != EEXIST) {
    return HasMidiPortOn(client, peer, peerFlags) ? MidiError::OpenFailed : MidiError::NoSuchPort;
  }
  // The connection shows once the server has run a cycle with it: on a loaded machine that
  // may be late, and only a server that runs no cycle for the whole limit fails it.
  CycleWatch watch(cycle, kConnectTimeout);
  while (jack_port_connected_to(ours, peer.c_str()) == 0) {
    if (status.gone.load()) {
      return MidiError::Unavailable;
    }
    if (!HasMidiPortOn(client, peer, peerFlags)) {
      return MidiError::NoSuchPort;
    }
    if (watch.Stopped()) {
      return MidiError::OpenFailed;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return MidiError::None;
}

}  // namespace movrin
