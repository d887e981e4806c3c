#include "JackOutputPort.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

namespace movrin {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Room for several full blocks queued without waiting.
constexpr std::size_t kRingBytes = 64 * 1024;
// Connections show up in the graph only after the server's next cycle.
constexpr milliseconds kConnectTimeout{1000};
// Short naps while waiting for the process thread: no busy loop, little added latency.
constexpr auto kPollInterval = std::chrono::milliseconds{1};

}  // namespace

JackOutputPort::OpenResult JackOutputPort::Open(const std::string& clientName,
                                                const std::string& portName,
                                                const std::string& destination) {
  auto client = JackClient::Open(clientName);
  if (client == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  if (!destination.empty() && !client->HasMidiPort(destination, JackPortIsInput)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  std::unique_ptr<JackOutputPort> port(new JackOutputPort(std::move(client), destination));
  jack_client_t* jack = port->client_->get();
  port->port_ =
      jack_port_register(jack, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (port->port_ == nullptr || jack_set_process_callback(jack, &Process, port.get()) != 0 ||
      jack_activate(jack) != 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  if (!destination.empty()) {
    if (const MidiError error = port->Connect(); error != MidiError::None) {
      return {nullptr, error};
    }
  }
  return {std::move(port), MidiError::None};
}

JackOutputPort::JackOutputPort(std::unique_ptr<JackClient> client, std::string destination)
    : ring_(kRingBytes), client_(std::move(client)), destination_(std::move(destination)) {}

JackOutputPort::~JackOutputPort() {
  // Before any member goes: the process callback reads them until the client is closed.
  client_.reset();
}

MidiError JackOutputPort::Connect() {
  jack_client_t* jack = client_->get();
  const int result = jack_connect(jack, jack_port_name(port_), destination_.c_str());
  if (result != 0 && result != EEXIST) {
    return client_->HasMidiPort(destination_, JackPortIsInput) ? MidiError::OpenFailed
                                                               : MidiError::NoSuchPort;
  }
  const auto deadline = Clock::now() + kConnectTimeout;
  while (jack_port_connected_to(port_, destination_.c_str()) == 0) {
    if (client_->serverGone()) {
      return MidiError::Unavailable;
    }
    if (Clock::now() > deadline) {
      return MidiError::OpenFailed;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return MidiError::None;
}

MidiError JackOutputPort::CheckPeer() {
  if (client_->serverGone()) {
    return MidiError::Unavailable;
  }
  if (destination_.empty()) {
    return MidiError::None;
  }
  if (!client_->HasMidiPort(destination_, JackPortIsInput)) {
    return MidiError::NoSuchPort;
  }
  if (jack_port_connected_to(port_, destination_.c_str()) != 0) {
    return MidiError::None;
  }
  // Someone cut the connection (or the peer came back under the same name): join again.
  return Connect();
}

MidiError JackOutputPort::Send(std::span<const std::uint8_t> message,
                               std::optional<milliseconds> drainTimeout) {
  std::lock_guard lock(sendMutex_);
  if (message.empty() || message.size() > kRingBytes / 2) {
    return MidiError::SendFailed;
  }
  if (const MidiError error = CheckPeer(); error != MidiError::None) {
    return error;
  }
  const auto deadline = Clock::now() + drainTimeout.value_or(milliseconds{2000});
  const std::size_t needed = sizeof(Record) + message.size();
  while (RingWritable() < needed) {
    if (client_->serverGone()) {
      return MidiError::Unavailable;
    }
    if (Clock::now() > deadline) {
      return MidiError::DrainTimeout;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  const Record record{++queued_, static_cast<std::uint32_t>(message.size())};
  RingAppend(record, message);
  if (!drainTimeout) {
    return MidiError::None;
  }
  while (played_.load() < record.sequence) {
    if (dropped_.load() == record.sequence) {
      return MidiError::SendFailed;
    }
    if (unconnected_.load() == record.sequence) {
      // The peer left (or was cut off) between the check above and the cycle.
      const MidiError error = CheckPeer();
      return error != MidiError::None ? error : MidiError::SendFailed;
    }
    if (client_->serverGone() || Clock::now() > deadline) {
      // However late the process thread wakes up, this message must not go out any more.
      discardUpTo_.store(record.sequence);
      return client_->serverGone() ? MidiError::Unavailable : MidiError::DrainTimeout;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  // Written while connected, in a cycle that has ended: the peer has read it, whatever it did
  // afterwards.
  return MidiError::None;
}

int JackOutputPort::Process(jack_nframes_t frames, void* self) {
  JackClient::CycleBegins();
  static_cast<JackOutputPort*>(self)->RunCycle(frames);
  JackClient::CycleEnds();
  return 0;
}

void JackOutputPort::RunCycle(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  jack_midi_clear_buffer(buffer);
  // A new cycle means the last one is over: readers after us in the graph read our buffer then,
  // readers before us have just read it again in this cycle.
  played_.store(written_);

  std::size_t tail = ringTail_.load(std::memory_order_relaxed);
  const std::size_t head = ringHead_.load(std::memory_order_acquire);
  // Read once per cycle, only when there is something to write. In the process thread JACK
  // answers from the graph this cycle runs on, without waiting for pending changes.
  std::optional<bool> connected;
  while (head - tail >= sizeof(Record)) {
    Record record{};
    RingCopyOut(tail, &record, sizeof record);
    const std::size_t next = tail + sizeof record + record.size;
    if (record.sequence > discardUpTo_.load()) {
      if (!connected) {
        connected =
            destination_.empty() || jack_port_connected_to(port_, destination_.c_str()) != 0;
      }
      if (!*connected) {
        // Played to nobody it would count as sent; kept, it would reach a later peer out of turn.
        unconnected_.store(record.sequence);
      } else {
        jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, record.size);
        if (event == nullptr && jack_midi_get_event_count(buffer) > 0) {
          break;  // the buffer is full for this cycle; the rest waits for the next one
        }
        if (event == nullptr) {
          dropped_.store(record.sequence);  // larger than any port buffer
        } else {
          RingCopyOut(tail + sizeof record, event, record.size);
          written_ = record.sequence;
        }
      }
    }
    tail = next;
  }
  ringTail_.store(tail, std::memory_order_release);
}

std::size_t JackOutputPort::RingWritable() const {
  return ring_.size() -
         (ringHead_.load(std::memory_order_relaxed) - ringTail_.load(std::memory_order_acquire));
}

void JackOutputPort::RingAppend(const Record& record, std::span<const std::uint8_t> bytes) {
  const std::size_t head = ringHead_.load(std::memory_order_relaxed);
  const auto copyIn = [this](std::size_t at, const std::uint8_t* from, std::size_t size) {
    const std::size_t offset = at % ring_.size();
    const std::size_t first = std::min(size, ring_.size() - offset);
    std::copy_n(from, first, ring_.begin() + static_cast<std::ptrdiff_t>(offset));
    std::copy_n(from + first, size - first, ring_.begin());
  };
  copyIn(head, reinterpret_cast<const std::uint8_t*>(&record), sizeof record);
  copyIn(head + sizeof record, bytes.data(), bytes.size());
  ringHead_.store(head + sizeof record + bytes.size(), std::memory_order_release);
}

void JackOutputPort::RingCopyOut(std::size_t from, void* to, std::size_t size) const {
  auto* out = static_cast<std::uint8_t*>(to);
  const std::size_t offset = from % ring_.size();
  const std::size_t first = std::min(size, ring_.size() - offset);
  std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(offset), first, out);
  std::copy_n(ring_.begin(), size - first, out + first);
}

}  // namespace movrin
