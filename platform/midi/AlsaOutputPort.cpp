#include "AlsaOutputPort.h"

#include <cerrno>
#include <mutex>
#include <thread>

namespace movrin {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Short naps while the kernel has no room: no busy loop, little added latency.
constexpr milliseconds kPollInterval{1};

void Quiet(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
           const char* /*format*/, ...) {}

MidiError FromErrno(int error) {
  switch (-error) {
    case ENOENT:  // the destination client or port is gone
    case ENXIO:
    case ENODEV:
      return MidiError::NoSuchPort;
    default:
      return MidiError::SendFailed;
  }
}

}  // namespace

void SilenceAlsaLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&Quiet); });
}

std::optional<AlsaAddress> FindAlsaDestination(snd_seq_t* seq, const std::string& name) {
  const auto address = AlsaAddressInName(name);
  if (!address) {
    return std::nullopt;
  }
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_alloca(&client);
  if (snd_seq_get_any_port_info(seq, address->client, address->port, port) < 0 ||
      snd_seq_get_any_client_info(seq, address->client, client) < 0) {
    return std::nullopt;
  }
  // The address may have been handed to another port since the list was read.
  const char* clientName = snd_seq_client_info_get_name(client);
  const char* portName = snd_seq_port_info_get_name(port);
  if (clientName == nullptr || portName == nullptr ||
      AlsaPortName(clientName, portName, *address) != name) {
    return std::nullopt;
  }
  constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
  if ((snd_seq_port_info_get_capability(port) & kWritable) != kWritable) {
    return std::nullopt;
  }
  return address;
}

AlsaOutputPort::OpenResult AlsaOutputPort::Open(const std::string& clientName,
                                                const std::string& portName,
                                                const std::string& destination) {
  SilenceAlsaLibrary();
  snd_seq_t* raw = nullptr;
  // Non-blocking, so that a full destination makes a bounded wait here, not a hang in write().
  if (snd_seq_open(&raw, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) {
    return {nullptr, MidiError::Unavailable};
  }
  Seq seq(raw);
  if (snd_seq_set_client_name(seq.get(), clientName.c_str()) < 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  const int id = snd_seq_create_simple_port(
      seq.get(), portName.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (id < 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  auto port = std::make_unique<Port>(seq.get(), id);
  std::optional<AlsaAddress> address;
  if (!destination.empty()) {
    address = FindAlsaDestination(seq.get(), destination);
    if (!address) {
      return {nullptr, MidiError::NoSuchPort};
    }
    if (snd_seq_connect_to(seq.get(), id, address->client, address->port) < 0) {
      return {nullptr, FindAlsaDestination(seq.get(), destination) ? MidiError::OpenFailed
                                                                   : MidiError::NoSuchPort};
    }
  }
  return {
      std::unique_ptr<AlsaOutputPort>(new AlsaOutputPort(std::move(seq), std::move(port), address)),
      MidiError::None};
}

AlsaOutputPort::AlsaOutputPort(Seq seq, std::unique_ptr<Port> port,
                               std::optional<AlsaAddress> destination)
    : seq_(std::move(seq)), port_(std::move(port)), destination_(destination) {}

AlsaOutputPort::~AlsaOutputPort() = default;

MidiError AlsaOutputPort::Send(std::span<const std::uint8_t> message, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  auto event = AlsaEventFor(message);
  if (!event) {
    return MidiError::SendFailed;
  }
  snd_seq_ev_set_source(&*event, static_cast<unsigned char>(port_->id()));
  if (destination_) {
    snd_seq_ev_set_dest(&*event, destination_->client, destination_->port);
  } else {
    snd_seq_ev_set_subs(&*event);
  }
  snd_seq_ev_set_direct(&*event);

  // alsa-lib refuses an event larger than its output buffer; blocks are larger than its default
  // on some builds.
  const auto needed = static_cast<std::size_t>(snd_seq_event_length(&*event)) + 1;
  if (snd_seq_get_output_buffer_size(seq_.get()) < needed &&
      snd_seq_set_output_buffer_size(seq_.get(), needed * 2) < 0) {
    return MidiError::SendFailed;
  }
  if (const int queued = snd_seq_event_output_buffer(seq_.get(), &*event); queued < 0) {
    snd_seq_drop_output(seq_.get());
    return FromErrno(queued);
  }
  return Drain(deadline);
}

MidiError AlsaOutputPort::Drain(Clock::time_point deadline) {
  for (;;) {
    const int left = snd_seq_drain_output(seq_.get());
    if (left == 0) {
      break;
    }
    // Positive: part was taken. -EAGAIN / -ENOMEM: no room in the kernel or at the receiver yet.
    if (left > 0 || left == -EAGAIN || left == -ENOMEM) {
      if (Clock::now() > deadline) {
        snd_seq_drop_output(seq_.get());
        return MidiError::DrainTimeout;
      }
      std::this_thread::sleep_for(kPollInterval);
      continue;
    }
    snd_seq_drop_output(seq_.get());
    return FromErrno(left);
  }
  return snd_seq_event_output_pending(seq_.get()) == 0 ? MidiError::None : MidiError::SendFailed;
}

}  // namespace movrin
