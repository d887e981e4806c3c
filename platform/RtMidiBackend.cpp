#include "RtMidiBackend.h"

#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>

#include "AlsaOutputPort.h"
#include "JackClient.h"
#include "JackInputPort.h"
#include "JackOutputPort.h"
#include "MidiParser.h"

namespace movrin {

namespace {

using std::chrono::milliseconds;

// Generous: a 1038-byte block needs one JACK period; a stalled graph must still end the send.
constexpr milliseconds kDrainTimeout{2000};
constexpr const char* kAlsaSequencer = "/dev/snd/seq";

// Takes RtMidi's errors instead of letting it print or throw. The input thread may report too.
struct ErrorSink {
  std::atomic<int> errors{0};

  static void Record(RtMidiError::Type type, const std::string& /*text*/, void* self) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
      ++static_cast<ErrorSink*>(self)->errors;
    }
  }
};

// An RtMidi object with its sink, which must outlive it.
template <typename T>
struct RtObject {
  ErrorSink sink;
  std::unique_ptr<T> midi;

  ~RtObject() {
    try {
      midi.reset();
    } catch (...) {  // RtMidi reports through the sink; nothing may escape a destructor
    }
  }
};

template <typename T>
std::unique_ptr<RtObject<T>> MakeRt(RtMidi::Api api, const std::string& clientName) {
  try {
    auto object = std::make_unique<RtObject<T>>();
    object->midi = std::make_unique<T>(api, clientName);
    object->midi->setErrorCallback(&ErrorSink::Record, &object->sink);
    return object;
  } catch (const std::exception&) {
    return nullptr;
  }
}

template <typename T>
std::vector<std::string> RtPortNames(RtObject<T>& object) {
  std::vector<std::string> names;
  try {
    const unsigned count = object.midi->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      names.push_back(object.midi->getPortName(i));
    }
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

std::optional<unsigned> IndexOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) {
    return std::nullopt;
  }
  return static_cast<unsigned>(it - names.begin());
}

// An open RtMidi input. The handler runs under a lock that the destructor takes once, so after
// the destructor returns no call is running or will start. A handler must not destroy its own
// input (it would wait for itself).
class RtInputPort final : public MidiInput {
 public:
  using Deliver = std::function<void(std::span<const std::uint8_t>)>;

  explicit RtInputPort(Deliver deliver) : deliver_(std::move(deliver)) {}

  ~RtInputPort() override {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    rt_.reset();
  }

  void Attach(std::unique_ptr<RtObject<RtMidiIn>> rt) {
    rt_ = std::move(rt);
    rt_->midi->setCallback(&RtInputPort::OnMessage, this);
    // Publishes this object to RtMidi's thread. The flag is atomic as well as locked: RtMidi's
    // thread may already be polling, and the release makes everything set above visible to it.
    std::lock_guard lock(mutex_);
    attached_.store(true, std::memory_order_release);
  }
  [[nodiscard]] RtObject<RtMidiIn>& rt() { return *rt_; }

 private:
  static void OnMessage(double /*delta*/, std::vector<unsigned char>* message, void* self) {
    auto* port = static_cast<RtInputPort*>(self);
    std::lock_guard lock(port->mutex_);
    if (!port->attached_.load(std::memory_order_acquire) || port->closed_ || message == nullptr ||
        message->empty()) {
      return;
    }
    // RtMidi joins the parts of a SysEx until one ends with F7, appending whatever comes next
    // when one never does: the parser splits that up again.
    port->parser_.Feed(*message, [port](std::span<const std::uint8_t> whole) {
      try {
        port->deliver_(whole);
      } catch (...) {  // a C callback boundary: drop rather than unwind through RtMidi
      }
    });
  }

  std::mutex mutex_;
  std::atomic<bool> attached_ = false;
  bool closed_ = false;
  Deliver deliver_;
  MidiParser parser_;
  std::unique_ptr<RtObject<RtMidiIn>> rt_;
};

// What RtMidi's ignoreTypes(false, true, true) let through on a virtual input: everything but
// timing (MTC quarter frame, clock) and active sensing.
bool KeptOnVirtualInput(std::span<const std::uint8_t> message) {
  const std::uint8_t status = message.front();
  return status != 0xF1 && status != 0xF8 && status != 0xFE;
}

// An input on a fresh ALSA RtMidiIn, not yet opened. The port object comes first, so that
// RtMidi's thread starts after it exists. Null when no RtMidi client could be made.
std::unique_ptr<RtInputPort> AttachedAlsaInput(const std::string& clientName,
                                               RtInputPort::Deliver deliver) {
  auto input = std::make_unique<RtInputPort>(std::move(deliver));
  auto rt = MakeRt<RtMidiIn>(RtMidi::LINUX_ALSA, clientName);
  if (rt == nullptr) {
    return nullptr;
  }
  input->Attach(std::move(rt));
  return input;
}

}  // namespace

struct RtMidiBackend::AlsaObjects {
  std::unique_ptr<RtObject<RtMidiIn>> sources;
  std::unique_ptr<RtObject<RtMidiOut>> destinations;  // listing only: sends are our own
};

std::unique_ptr<RtMidiBackend> RtMidiBackend::Create(const std::string& clientName) {
  auto alsa = Create(clientName, Api::Alsa);
  if (alsa->api() == Api::Alsa) {
    return alsa;
  }
  return Create(clientName, Api::Jack);
}

std::unique_ptr<RtMidiBackend> RtMidiBackend::Create(const std::string& clientName, Api api) {
  std::unique_ptr<RtMidiBackend> backend(new RtMidiBackend(Api::None, clientName));
  if (api == Api::Alsa && Compiled(RtMidi::LINUX_ALSA) &&
      // Without the device alsa-lib would print its own complaint before RtMidi throws.
      access(kAlsaSequencer, R_OK | W_OK) == 0) {
    SilenceAlsaLibrary();
    auto objects = std::make_unique<AlsaObjects>();
    objects->sources = MakeRt<RtMidiIn>(RtMidi::LINUX_ALSA, clientName);
    objects->destinations = MakeRt<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
    if (objects->sources != nullptr && objects->destinations != nullptr) {
      backend->alsa_ = std::move(objects);
      backend->api_ = Api::Alsa;
    }
  } else if (api == Api::Jack && Compiled(RtMidi::UNIX_JACK)) {
    // A port-less client of its own, so that the ports' client keeps the plain name.
    backend->jack_ = JackClient::Open(clientName + "-ctl").client;
    if (backend->jack_ != nullptr) {
      backend->api_ = Api::Jack;
    }
  }
  return backend;
}

RtMidiBackend::RtMidiBackend(Api api, std::string clientName)
    : api_(api), clientName_(std::move(clientName)) {}

RtMidiBackend::~RtMidiBackend() = default;

std::uint64_t RtMidiBackend::XrunCount() const {
  return jack_ != nullptr ? jack_->xruns() : 0;
}

std::string RtMidiBackend::ApiName() const {
  switch (api_) {
    case Api::Alsa:
      return "ALSA";
    case Api::Jack:
      return "JACK";
    case Api::None:
      break;
  }
  return "none";
}

void RtMidiBackend::KeepJackOutputOpen(bool keep) {
  keepJackOutputOpen_ = keep;
  if (!keep) {
    jackSender_.reset();
  }
}

bool RtMidiBackend::Reachable() const {
  switch (api_) {
    case Api::Alsa:
      return true;
    case Api::Jack:
      return !jack_->serverGone();
    case Api::None:
      break;
  }
  return false;
}

std::string RtMidiBackend::NextPortName(const char* stem) {
  return std::string(stem) + "-" + std::to_string(++portsMade_);
}

bool RtMidiBackend::IsOwnPort(const std::string& fullName) const {
  const std::string client = fullName.substr(0, fullName.find(':'));
  if (client == clientName_) {
    return true;
  }
  // JACK names a second client of the same name "<name>-01", and so on.
  if (client.size() <= clientName_.size() + 1 ||
      client.compare(0, clientName_.size(), clientName_) != 0 ||
      client[clientName_.size()] != '-') {
    return false;
  }
  return std::all_of(client.begin() + static_cast<std::ptrdiff_t>(clientName_.size()) + 1,
                     client.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> RtMidiBackend::SystemPorts(bool destinations) {
  std::vector<std::string> names;
  if (!Reachable()) {
    return names;
  }
  if (api_ == Api::Jack) {
    // A destination is a port we write to: a JACK input port.
    const char** ports = jack_get_ports(jack_->get(), nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        destinations ? JackPortIsInput : JackPortIsOutput);
    if (ports != nullptr) {
      for (const char** it = ports; *it != nullptr; ++it) {
        names.emplace_back(*it);
      }
      jack_free(static_cast<void*>(ports));
    }
  } else if (api_ == Api::Alsa) {
    names = destinations ? RtPortNames(*alsa_->destinations) : RtPortNames(*alsa_->sources);
  }
  return names;
}

std::vector<MidiPortInfo> RtMidiBackend::ListPorts(bool destinations) {
  std::vector<MidiPortInfo> ports;
  for (std::string& name : SystemPorts(destinations)) {
    if (!name.empty() && !IsOwnPort(name)) {
      ports.push_back(MidiPortInfo{std::move(name)});
    }
  }
  if (api_ == Api::Jack) {
    // JACK hands out ports in slot order, and slots are reused: sort so the list reads the same
    // whichever programs came and went in between.
    std::sort(ports.begin(), ports.end(),
              [](const MidiPortInfo& a, const MidiPortInfo& b) { return a.name < b.name; });
  }
  return ports;
}

std::vector<MidiPortInfo> RtMidiBackend::ListOutputs() {
  return ListPorts(true);
}

std::vector<MidiPortInfo> RtMidiBackend::ListInputs() {
  return ListPorts(false);
}

MidiPortInfo RtMidiBackend::DefaultOutput() {
  for (MidiPortInfo& port : ListOutputs()) {
    if (!IsThroughPort(port.name)) {
      return port;
    }
  }
  return {};
}

OpenInputResult RtMidiBackend::OpenInput(const MidiPortInfo& port, ShortMessageHandler handler) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  const auto index = IndexOf(SystemPorts(false), port.name);
  if (!index || IsOwnPort(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  const std::string portName = NextPortName("in");
  if (api_ == Api::Jack) {
    // Our own input: RtMidi's unregisters its port while its process callback may still read it.
    auto opened =
        JackInputPort::Open(clientName_, portName, port.name,
                            [handler = std::move(handler)](std::span<const std::uint8_t> message) {
                              if (const auto value = ShortMessageValue(message)) {
                                handler(*value);
                              }
                            });
    if (opened.error != MidiError::None) {
      return {nullptr, opened.error};
    }
    return {std::move(opened.port), MidiError::None};
  }
  auto input = AttachedAlsaInput(
      clientName_, [handler = std::move(handler)](std::span<const std::uint8_t> message) {
        if (const auto value = ShortMessageValue(message)) {
          handler(*value);
        }
      });
  if (input == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  RtObject<RtMidiIn>& in = input->rt();
  try {
    in.midi->ignoreTypes(true, true, true);
    in.midi->openPort(*index, portName);
  } catch (const std::exception&) {
    return {nullptr, MidiError::OpenFailed};
  }
  if (in.sink.errors.load() != 0 || !in.midi->isPortOpen()) {
    return {nullptr, MidiError::OpenFailed};
  }
  return {std::move(input), MidiError::None};
}

OpenInputResult RtMidiBackend::OpenVirtualInput(const std::string& portName,
                                                RawMessageHandler handler) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  if (api_ == Api::Jack) {
    auto opened =
        JackInputPort::Open(clientName_, portName, "",
                            [handler = std::move(handler)](std::span<const std::uint8_t> message) {
                              if (KeptOnVirtualInput(message)) {
                                handler(message);
                              }
                            });
    if (opened.error != MidiError::None) {
      return {nullptr, opened.error};
    }
    return {std::move(opened.port), MidiError::None};
  }
  auto input = AttachedAlsaInput(clientName_, std::move(handler));
  if (input == nullptr) {
    return {nullptr, MidiError::Unavailable};
  }
  RtObject<RtMidiIn>& in = input->rt();
  try {
    // Blocks are larger than RtMidi's default ALSA buffer of 1024 bytes.
    in.midi->setBufferSize(2048, 4);
    in.midi->ignoreTypes(false, true, true);
    in.midi->openVirtualPort(portName);
  } catch (const std::exception&) {
    return {nullptr, MidiError::OpenFailed};
  }
  // RtMidi never marks a virtual port as open; its errors are all there is to go by.
  if (in.sink.errors.load() != 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  return {std::move(input), MidiError::None};
}

OpenOutputResult RtMidiBackend::OpenVirtualOutput(const std::string& portName) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  if (api_ == Api::Jack) {
    auto opened = JackOutputPort::Open(clientName_, portName, "");
    if (opened.error != MidiError::None) {
      return {nullptr, opened.error};
    }
    return {std::move(opened.port), MidiError::None};
  }
  auto opened = AlsaOutputPort::Open(clientName_, portName, "");
  if (opened.error != MidiError::None) {
    return {nullptr, opened.error};
  }
  return {std::move(opened.port), MidiError::None};
}

OpenOutputResult RtMidiBackend::OpenOutput(const MidiPortInfo& port) {
  if (!Reachable()) {
    return {nullptr, MidiError::Unavailable};
  }
  if (IsOwnPort(port.name)) {
    return {nullptr, MidiError::NoSuchPort};
  }
  if (api_ == Api::Jack) {
    auto opened = JackOutputPort::Open(clientName_, NextPortName("out"), port.name);
    if (opened.error != MidiError::None) {
      return {nullptr, opened.error};
    }
    return {std::move(opened.port), MidiError::None};
  }
  auto opened = AlsaOutputPort::Open(clientName_, NextPortName("out"), port.name);
  if (opened.error != MidiError::None) {
    return {nullptr, opened.error};
  }
  return {std::move(opened.port), MidiError::None};
}

MidiError RtMidiBackend::SendSysEx(const MidiPortInfo& port,
                                   std::span<const std::uint8_t> message) {
  if (!Reachable()) {
    return MidiError::Unavailable;
  }
  if (message.empty()) {
    return MidiError::SendFailed;
  }
  if (IsOwnPort(port.name)) {
    return MidiError::NoSuchPort;
  }
  return api_ == Api::Jack ? SendSysExJack(port, message) : SendSysExAlsa(port, message);
}

MidiError RtMidiBackend::SendSysExJack(const MidiPortInfo& port,
                                       std::span<const std::uint8_t> message) {
  if (jackSender_ == nullptr || jackSender_->destination() != port.name || !keepJackOutputOpen_) {
    jackSender_.reset();
    auto opened = JackOutputPort::Open(clientName_, "sysex-out", port.name, kDrainTimeout);
    if (opened.error != MidiError::None) {
      return opened.error;
    }
    jackSender_ = std::move(opened.port);
  }
  const MidiError error = jackSender_->Send(message);
  if (error == MidiError::DrainTimeout) {
    // The graph is stalled, and closing a client waits for the server: keep the port until
    // the next send. The message itself is already marked never to go out.
    return error;
  }
  if (error != MidiError::None || !keepJackOutputOpen_) {
    jackSender_.reset();
  }
  return error;
}

MidiError RtMidiBackend::SendSysExAlsa(const MidiPortInfo& port,
                                       std::span<const std::uint8_t> message) {
  // One port per message, closed again at once: some systems let only one client at a time
  // hold a device.
  auto opened = AlsaOutputPort::Open(clientName_, "sysex-out", port.name);
  if (opened.error != MidiError::None) {
    return opened.error;
  }
  return opened.port->Send(message);
}

std::unique_ptr<MidiBackend> CreateSystemMidiBackend(const std::string& clientName) {
  try {
    return RtMidiBackend::Create(clientName);
  } catch (const std::exception&) {
    return RtMidiBackend::Create(clientName, RtMidiBackend::Api::None);
  }
}

}  // namespace movrin
