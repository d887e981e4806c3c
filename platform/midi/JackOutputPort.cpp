#include "JackOutputPort.h"

#include <jack/midiport.h>

#include <thread>

#include "SpscMessageRing.h"

namespace movrin {

namespace {

using std::chrono::milliseconds;

// Room for several full blocks queued without waiting.
// Room for two of the largest messages, so one can be queued while another plays.
constexpr std::size_t kRingBytes = 2 * kLargestMessageBytes;
// Short naps while waiting for the process thread: no busy loop, little added latency.
constexpr milliseconds kPollInterval{1};
// For a message only queued: how long the server may run no cycle before it counts as stalled.
constexpr milliseconds kQueueTimeout{2000};

}  // namespace

// The process callback's side: writes queued messages into the port buffer and tells the
// senders how far it got.
class JackOutputPort::Player final : public JackCycle {
 public:
  explicit Player(std::string peer) : ring(kRingBytes), destination(std::move(peer)) {}

  void Run(jack_nframes_t frames) override {
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    // A new cycle means the last one is over: readers after us in the graph read our buffer
    // then, readers before us have just read it again in this cycle.
    played.store(written);
    // Read once per cycle, only when there is something to write. In the process thread JACK
    // answers from the graph this cycle runs on, without waiting for pending changes.
    std::optional<bool> connected;
    while (const auto record = ring.Peek()) {
      if (record->sequence > discardUpTo.load()) {
        if (!connected) {
          connected = destination.empty() || jack_port_connected_to(port, destination.c_str()) != 0;
        }
        if (!*connected) {
          // Played to nobody it would count as sent; kept, it would reach a later peer out of
          // turn.
          unconnected.store(record->sequence);
        } else {
          jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, record->size);
          if (event == nullptr && jack_midi_get_event_count(buffer) > 0) {
            return;  // the buffer is full for this cycle; the rest waits for the next one
          }
          if (event == nullptr) {
            dropped.store(record->sequence);  // larger than any port buffer
          } else {
            ring.CopyMessage(*record, event);
            written = record->sequence;
          }
        }
      }
      ring.Pop(*record);
    }
  }

  SpscMessageRing ring;
  const std::string destination;
  // Written by the process callback, read by senders.
  std::atomic<std::uint64_t> played{0};       // written in a cycle that has ended
  std::atomic<std::uint64_t> dropped{0};      // last one too large for a port buffer
  std::atomic<std::uint64_t> unconnected{0};  // last one not written: no peer at that cycle
  std::atomic<std::uint64_t> discardUpTo{0};  // written by senders that gave up
  std::uint64_t written = 0;                  // process callback only
};

JackOutputPort::OpenResult JackOutputPort::Open(const std::string& clientName,
                                                const std::string& portName,
                                                const std::string& destination,
                                                std::optional<milliseconds> drainTimeout) {
  auto player = std::make_shared<Player>(destination);
  auto opened = JackClient::OpenPort(clientName, portName, JackPortIsOutput, destination, player);
  if (opened.error != MidiError::None) {
    return {nullptr, opened.error};
  }
  std::unique_ptr<JackOutputPort> port(new JackOutputPort(std::move(player), drainTimeout));
  port->client_ = std::move(opened.client);
  return {std::move(port), MidiError::None};
}

JackOutputPort::JackOutputPort(std::shared_ptr<Player> player,
                               std::optional<milliseconds> drainTimeout)
    : player_(std::move(player)), drainTimeout_(drainTimeout) {}

JackOutputPort::~JackOutputPort() = default;

const std::string& JackOutputPort::destination() const {
  return player_->destination;
}

MidiError JackOutputPort::CheckPeer() {
  if (client_->serverGone()) {
    return MidiError::Unavailable;
  }
  const std::string& peer = player_->destination;
  if (peer.empty()) {
    return MidiError::None;
  }
  if (!client_->HasMidiPort(peer, JackPortIsInput)) {
    return MidiError::NoSuchPort;
  }
  if (jack_port_connected_to(client_->port(), peer.c_str()) != 0) {
    return MidiError::None;
  }
  // Someone cut the connection (or the peer came back under the same name): join again. JACK
  // refuses a port whose client is closing, while the port is still listed: that peer is going.
  const MidiError error = client_->Connect(peer);
  return error == MidiError::OpenFailed ? MidiError::NoSuchPort : error;
}

MidiError JackOutputPort::Send(std::span<const std::uint8_t> message,
                               std::optional<milliseconds> drainTimeout) {
  std::lock_guard lock(sendMutex_);
  if (message.empty() || message.size() > kLargestMessageBytes) {
    return MidiError::SendFailed;
  }
  if (const MidiError error = CheckPeer(); error != MidiError::None) {
    return error;
  }
  Player& player = *player_;
  // Judged by the server: the limit runs only while it runs no cycle of ours, so a late cycle
  // on a loaded machine never fails a message that it then plays.
  CycleWatch cycles(player, drainTimeout.value_or(kQueueTimeout));
  const std::uint64_t sequence = ++queued_;
  while (!player.ring.Push(sequence, message)) {
    if (client_->serverGone()) {
      return MidiError::Unavailable;
    }
    if (cycles.Stopped()) {
      return MidiError::DrainTimeout;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  if (!drainTimeout) {
    return MidiError::None;
  }
  while (player.played.load() < sequence) {
    if (player.dropped.load() == sequence) {
      return MidiError::SendFailed;
    }
    if (player.unconnected.load() == sequence) {
      // The peer left (or was cut off) between the check above and the cycle.
      const MidiError error = CheckPeer();
      return error != MidiError::None ? error : MidiError::SendFailed;
    }
    if (client_->serverGone() || cycles.Stopped()) {
      // However late the process thread wakes up, this message must not go out any more.
      player.discardUpTo.store(sequence);
      return client_->serverGone() ? MidiError::Unavailable : MidiError::DrainTimeout;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  // Written while connected, in a cycle that has ended: the peer has read it, whatever it did
  // afterwards.
  return MidiError::None;
}

}  // namespace movrin
