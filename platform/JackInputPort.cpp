#include "JackInputPort.h"

#include <jack/midiport.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace movrin {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Room for dozens of full blocks while the handler is busy.
constexpr std::size_t kRingBytes = 64 * 1024;
// A System Exclusive message split over events is kept until this long, then dropped.
constexpr std::size_t kMaxMessage = kRingBytes;
// Connections show up in the graph only after the server's next cycle.
constexpr milliseconds kConnectTimeout{1000};
constexpr auto kPollInterval = std::chrono::milliseconds{1};
// A bound on each sleep of the delivery thread, should a wake-up ever be lost.
constexpr int kWakeSliceMs = 100;
constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

}  // namespace

JackInputPort::OpenResult JackInputPort::Open(const std::string& clientName,
                                              const std::string& portName,
                                              const std::string& source, Deliver deliver) {
  auto client = JackClient::Open(clientName);
  if (client == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  if (!source.empty() && !client->HasMidiPort(source, JackPortIsOutput)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  std::unique_ptr<JackInputPort> port(new JackInputPort(std::move(client), std::move(deliver)));
  port->wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (port->wakeFd_ < 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  jack_client_t* jack = port->client_->get();
  port->port_ =
      jack_port_register(jack, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (port->port_ == nullptr || jack_set_process_callback(jack, &Process, port.get()) != 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  try {
    port->delivery_ = std::thread([raw = port.get()] { raw->Run(); });
  } catch (const std::exception&) {
    return {nullptr, MidiError::OpenFailed};
  }
  if (jack_activate(jack) != 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  if (!source.empty()) {
    if (const MidiError error = port->Connect(source); error != MidiError::None) {
      return {nullptr, error};
    }
  }
  return {std::move(port), MidiError::None};
}

JackInputPort::JackInputPort(std::unique_ptr<JackClient> client, Deliver deliver)
    : ring_(kRingBytes), deliver_(std::move(deliver)), client_(std::move(client)) {}

JackInputPort::~JackInputPort() {
  // The process callback reads the port and the ring: stop it before either goes. Closing the
  // client unregisters the port only after deactivation, and joins JACK's thread.
  jack_deactivate(client_->get());
  client_.reset();
  stop_.store(true);
  Wake();
  if (delivery_.joinable()) {
    delivery_.join();
  }
  if (wakeFd_ >= 0) {
    close(wakeFd_);
  }
}

void JackInputPort::Wake() noexcept {
  const std::uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // Only a full counter fails, and then the thread is awake anyway.
  }
}

MidiError JackInputPort::Connect(const std::string& source) {
  jack_client_t* jack = client_->get();
  const int result = jack_connect(jack, source.c_str(), jack_port_name(port_));
  if (result != 0 && result != EEXIST) {
    return client_->HasMidiPort(source, JackPortIsOutput) ? MidiError::OpenFailed
                                                          : MidiError::NoSuchPort;
  }
  const auto deadline = Clock::now() + kConnectTimeout;
  while (jack_port_connected_to(port_, source.c_str()) == 0) {
    if (!client_->HasMidiPort(source, JackPortIsOutput)) {
      return MidiError::NoSuchPort;
    }
    if (client_->serverGone() || Clock::now() > deadline) {
      return MidiError::OpenFailed;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return MidiError::None;
}

int JackInputPort::Process(jack_nframes_t frames, void* self) {
  JackClient::CycleBegins();
  static_cast<JackInputPort*>(self)->RunCycle(frames);
  JackClient::CycleEnds();
  return 0;
}

void JackInputPort::RunCycle(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  if (buffer == nullptr) {
    return;
  }
  const jack_nframes_t count = jack_midi_get_event_count(buffer);
  bool queued = false;
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event{};
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) {
      continue;
    }
    if (RingPush(event.buffer, event.size)) {
      queued = true;
    } else {
      dropped_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  if (queued) {
    Wake();
  }
}

void JackInputPort::Run() {
  std::vector<std::uint8_t> event;
  std::vector<std::uint8_t> sysex;  // a System Exclusive message split over several events
  event.reserve(2048);
  bool inSysEx = false;
  for (;;) {
    if (stop_.load()) {
      return;
    }
    if (!RingPop(event)) {
      // A push after the check above has written the eventfd already: poll returns at once.
      pollfd wake{wakeFd_, POLLIN, 0};
      if (poll(&wake, 1, kWakeSliceMs) > 0) {
        std::uint64_t count = 0;
        if (read(wakeFd_, &count, sizeof count) < 0) {
          // Nothing to read: another look at the ring is all that is needed.
        }
      }
      continue;
    }
    const std::span<const std::uint8_t> bytes(event);
    if (inSysEx && bytes.front() >= kFirstRealTime) {
      Hand(bytes);  // real-time bytes may come between the parts of a message
      continue;
    }
    if (inSysEx) {
      if (sysex.size() + bytes.size() > kMaxMessage) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        sysex.clear();
        inSysEx = bytes.back() != kSysExEnd;
        continue;
      }
      sysex.insert(sysex.end(), bytes.begin(), bytes.end());
      if (bytes.back() == kSysExEnd) {
        inSysEx = false;
        Hand(sysex);
      }
      continue;
    }
    if (bytes.front() == kSysExStart && bytes.back() != kSysExEnd) {
      sysex.assign(bytes.begin(), bytes.end());
      inSysEx = true;
      continue;
    }
    Hand(bytes);
  }
}

void JackInputPort::Hand(std::span<const std::uint8_t> message) {
  try {
    deliver_(message);
  } catch (...) {  // the handler's fault must not end the delivery thread (or the program)
  }
}

bool JackInputPort::RingPush(const std::uint8_t* bytes, std::size_t size) {
  const std::size_t head = ringHead_.load(std::memory_order_relaxed);
  const std::size_t tail = ringTail_.load(std::memory_order_acquire);
  const std::size_t needed = sizeof(std::uint32_t) + size;
  if (ring_.size() - (head - tail) < needed) {
    return false;
  }
  const auto length = static_cast<std::uint32_t>(size);
  RingCopyIn(head, &length, sizeof length);
  RingCopyIn(head + sizeof length, bytes, size);
  ringHead_.store(head + needed, std::memory_order_release);
  return true;
}

bool JackInputPort::RingPop(std::vector<std::uint8_t>& event) {
  const std::size_t tail = ringTail_.load(std::memory_order_relaxed);
  const std::size_t head = ringHead_.load(std::memory_order_acquire);
  if (head == tail) {
    return false;
  }
  std::uint32_t length = 0;
  RingCopyOut(tail, &length, sizeof length);
  event.resize(length);
  RingCopyOut(tail + sizeof length, event.data(), length);
  ringTail_.store(tail + sizeof length + length, std::memory_order_release);
  return true;
}

void JackInputPort::RingCopyIn(std::size_t at, const void* from, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(from);
  const std::size_t offset = at % ring_.size();
  const std::size_t first = std::min(size, ring_.size() - offset);
  std::copy_n(in, first, ring_.begin() + static_cast<std::ptrdiff_t>(offset));
  std::copy_n(in + first, size - first, ring_.begin());
}

void JackInputPort::RingCopyOut(std::size_t from, void* to, std::size_t size) const {
  auto* out = static_cast<std::uint8_t*>(to);
  const std::size_t offset = from % ring_.size();
  const std::size_t first = std::min(size, ring_.size() - offset);
  std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(offset), first, out);
  std::copy_n(ring_.begin(), size - first, out + first);
}

}  // namespace movrin
