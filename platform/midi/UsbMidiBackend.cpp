#include "UsbMidiBackend.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "UsbMidiPackets.h"

namespace movrin {

struct UsbNotices {
  std::mutex mutex;
  std::vector<std::string> lines;

  void Add(std::string line) {
    const std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
  }
};

namespace {

constexpr std::uint8_t kAudioClass = 0x01;
constexpr std::uint8_t kMidiStreamingSubclass = 0x03;
constexpr std::uint8_t kCsEndpoint = 0x25;
constexpr std::uint8_t kMsGeneral = 0x01;
// A whole message must be taken by the device within this; it is an error, not a hang.
constexpr auto kSendLimit = std::chrono::seconds(5);
// How long a read waits before it looks whether its port is closing.
constexpr unsigned kReadSliceMs = 50;
// How long a closing input waits for its read to end: an unplugged device's ends at the next
// look at libusb's events.
constexpr int kReadEndSlices = 40;

MidiError FromLibusb(int error) {
  switch (error) {
    case LIBUSB_SUCCESS:
      return MidiError::None;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
      return MidiError::NoSuchPort;
    case LIBUSB_ERROR_ACCESS:
      return MidiError::NoPermission;
    case LIBUSB_ERROR_TIMEOUT:
      return MidiError::DrainTimeout;
    case LIBUSB_ERROR_BUSY:
      return MidiError::OpenFailed;
    default:
      return MidiError::SendFailed;
  }
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The device's folder in sysfs ("1-1.4"), where its strings can be read without opening it.
std::string SysfsName(libusb_device* device) {
  std::uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  std::string name = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < count; ++i) {
    name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
  }
  return name;
}

std::string ProductName(libusb_device* device, const libusb_device_descriptor& descriptor) {
  std::string product = ReadLine("/sys/bus/usb/devices/" + SysfsName(device) + "/product");
  if (product.empty()) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB MIDI %04x:%04x", descriptor.idVendor, descriptor.idProduct);
    product = ids;
  }
  return product;
}

// The number of cables an endpoint carries: its class-specific descriptor's embedded jacks.
int CableCount(const libusb_endpoint_descriptor& endpoint) {
  const unsigned char* extra = endpoint.extra;
  int left = endpoint.extra_length;
  while (left >= 4 && extra[0] >= 4 && extra[0] <= left) {
    if (extra[1] == kCsEndpoint && extra[2] == kMsGeneral) {
      return std::min<int>(extra[3], 16);
    }
    left -= extra[0];
    extra += extra[0];
  }
  return 0;
}

// The sound cards that are USB devices, as "bus/address" -> the card's name, which is also
// its sequencer client's name.
std::map<std::string, std::string> UsbSoundCards() {
  std::map<std::string, std::string> cards;
  std::ifstream list("/proc/asound/cards");
  std::string line;
  while (std::getline(list, line)) {
    int number = -1;
    char driver[64] = {};
    if (std::sscanf(line.c_str(), " %d [%*[^]]]: %63s", &number, driver) != 2) {
      continue;
    }
    const auto dash = line.find(" - ");
    const std::string bus = ReadLine("/proc/asound/card" + std::to_string(number) + "/usbbus");
    if (dash != std::string::npos && !bus.empty()) {
      cards[bus] = line.substr(dash + 3);
    }
  }
  return cards;
}

// True for a port of the system's that belongs to this card: the sequencer's "<card>:..."
// and the JACK bridges' names that carry the card's.
bool OfCard(const std::string& port, const std::string& card) {
  return port.rfind(card + ":", 0) == 0 || port.find(":" + card) != std::string::npos ||
         port.find(" " + card + " ") != std::string::npos;
}

}  // namespace

// One claimed MIDI streaming interface. The kernel's driver is detached from it alone and
// asked back when the last port on it closes.
class UsbLink {
 public:
  static std::shared_ptr<UsbLink> Open(libusb_context* context, const UsbCable& cable,
                                       std::shared_ptr<UsbNotices> notices, MidiError& error) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle* handle = nullptr;
    int result = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < count; ++i) {
      if (libusb_get_bus_number(list[i]) == cable.bus &&
          libusb_get_device_address(list[i]) == cable.address) {
        result = libusb_open(list[i], &handle);
        break;
      }
    }
    if (count >= 0) {
      libusb_free_device_list(list, 1);
    }
    if (result != LIBUSB_SUCCESS) {
      error = FromLibusb(result);
      return nullptr;
    }
    auto link = std::shared_ptr<UsbLink>(new UsbLink(context, handle, cable, std::move(notices)));
    if (libusb_kernel_driver_active(handle, cable.interface) == 1) {
      result = libusb_detach_kernel_driver(handle, cable.interface);
      if (result != LIBUSB_SUCCESS) {
        error = FromLibusb(result);
        return nullptr;
      }
      link->detached_ = true;
    }
    result = libusb_claim_interface(handle, cable.interface);
    if (result != LIBUSB_SUCCESS) {
      error = FromLibusb(result);
      return nullptr;  // the destructor gives the interface back to the kernel
    }
    link->claimed_ = true;
    // Both sides' data toggles back to the start: after the kernel's driver had the interface
    // (or failed to take it back) they may disagree, and the device then drops our first
    // packet as a repeat. This selects the setting the interface already has; it resets nothing
    // else on the device.
    result = libusb_set_interface_alt_setting(handle, cable.interface, 0);
    if (result != LIBUSB_SUCCESS) {
      error = FromLibusb(result);
      return nullptr;
    }
    error = MidiError::None;
    return link;
  }

  ~UsbLink() {
    if (claimed_) {
      libusb_release_interface(handle_, interface_);
    }
    // The kernel can accept the interface back and still fail to bind its driver (its probe
    // fails after a transfer that was cut short, or always on Linux 6.1): only a driver that is
    // bound again counts.
    if (detached_ && (libusb_attach_kernel_driver(handle_, interface_) != LIBUSB_SUCCESS ||
                      libusb_kernel_driver_active(handle_, interface_) != 1)) {
      notices_->Add("the kernel could not take back the USB MIDI device \"" + name_ +
                    "\": other programs will see it again once it is unplugged and plugged in "
                    "again (after it has finished writing the image)");
    }
    libusb_close(handle_);
  }

  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  [[nodiscard]] MidiError Write(const UsbCable& cable, std::span<const std::uint8_t> message) {
    const std::vector<std::uint8_t> packets = PackUsbMidi(message, cable.cable);
    if (packets.empty()) {
      return MidiError::SendFailed;
    }
    const std::lock_guard lock(writing_);
    const auto deadline = std::chrono::steady_clock::now() + kSendLimit;
    const std::size_t chunk =
        std::max<std::size_t>(cable.packetSize / kUsbMidiPacketSize, 1) * kUsbMidiPacketSize;
    for (std::size_t at = 0; at < packets.size(); at += chunk) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return MidiError::DrainTimeout;
      }
      auto* data = const_cast<unsigned char*>(packets.data() + at);
      const int length = static_cast<int>(std::min(chunk, packets.size() - at));
      int done = 0;
      const auto limit = static_cast<unsigned>(left.count());
      const int result =
          cable.interrupt
              ? libusb_interrupt_transfer(handle_, cable.endpoint, data, length, &done, limit)
              : libusb_bulk_transfer(handle_, cable.endpoint, data, length, &done, limit);
      if (result != LIBUSB_SUCCESS) {
        return FromLibusb(result);
      }
      if (done != length) {
        return MidiError::DrainTimeout;
      }
    }
    return MidiError::None;
  }

  [[nodiscard]] libusb_context* context() const { return context_; }
  [[nodiscard]] libusb_device_handle* handle() const { return handle_; }

 private:
  UsbLink(libusb_context* context, libusb_device_handle* handle, const UsbCable& cable,
          std::shared_ptr<UsbNotices> notices)
      : context_(context),
        handle_(handle),
        interface_(cable.interface),
        name_(cable.name),
        notices_(std::move(notices)) {}

  libusb_context* context_;
  libusb_device_handle* handle_;
  int interface_;
  std::string name_;  // the port's, for messages
  std::shared_ptr<UsbNotices> notices_;
  bool detached_ = false;
  bool claimed_ = false;
  std::mutex writing_;  // one message at a time on the OUT endpoint
};

namespace {

class UsbOutputPort final : public MidiOutput {
 public:
  UsbOutputPort(std::shared_ptr<UsbLink> link, UsbCable cable)
      : link_(std::move(link)), cable_(std::move(cable)) {}
  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message) override {
    return link_->Write(cable_, message);
  }

 private:
  std::shared_ptr<UsbLink> link_;
  UsbCable cable_;
};

// Reads the IN endpoint on a thread of its own and puts the packets of its cable together by
// their CIN, so a SysEx's inside is never read as status bytes. One read stays submitted for
// as long as the port is open: a read that timed out and was cancelled could lose what the
// device handed over just then, such as the one ready note of a transfer.
class UsbInputPort final : public MidiInput {
 public:
  UsbInputPort(std::shared_ptr<UsbLink> link, UsbCable cable, RawMessageHandler handler)
      : link_(std::move(link)), cable_(std::move(cable)), handler_(std::move(handler)) {
    thread_ = std::thread([this] { ReadLoop(); });
  }
  ~UsbInputPort() override {
    stop_ = true;
    thread_.join();
  }

 private:
  static void LIBUSB_CALL Completed(libusb_transfer* transfer) {
    auto* self = static_cast<UsbInputPort*>(transfer->user_data);
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
      for (int at = 0; at + 4 <= transfer->actual_length; at += 4) {
        const std::span<const std::uint8_t, 4> packet(transfer->buffer + at, 4);
        if (UsbMidiCable(packet) == self->cable_.cable) {
          self->Take(packet);
        }
      }
    }
    // Unplugged: the lists no longer have the port, which is how it is noticed.
    const bool again = !self->stop_ && (transfer->status == LIBUSB_TRANSFER_COMPLETED ||
                                        transfer->status == LIBUSB_TRANSFER_TIMED_OUT);
    // Cleared only when no submission stands: once resubmitted, the next completion may
    // already be running in another thread.
    if (!again || libusb_submit_transfer(transfer) != LIBUSB_SUCCESS) {
      self->inFlight_ = false;
    }
  }

  void ReadLoop() {
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) {
      return;
    }
    // The transfer's own, freed with it: a read left to libusb may still be written into.
    const auto size = std::max<std::size_t>(cable_.packetSize, kUsbMidiPacketSize);
    auto* buffer = static_cast<unsigned char*>(std::malloc(size));
    if (buffer == nullptr) {
      libusb_free_transfer(transfer);
      return;
    }
    const int length = static_cast<int>(size);
    if (cable_.interrupt) {
      libusb_fill_interrupt_transfer(transfer, link_->handle(), cable_.endpoint, buffer, length,
                                     &Completed, this, 0);
    } else {
      libusb_fill_bulk_transfer(transfer, link_->handle(), cable_.endpoint, buffer, length,
                                &Completed, this, 0);
    }
    transfer->flags |= LIBUSB_TRANSFER_FREE_BUFFER;
    inFlight_ = true;
    if (libusb_submit_transfer(transfer) != LIBUSB_SUCCESS) {
      inFlight_ = false;
    }
    timeval slice{0, kReadSliceMs * 1000};
    while (!stop_ && inFlight_) {
      libusb_handle_events_timeout_completed(link_->context(), &slice, nullptr);
    }
    if (!inFlight_) {
      libusb_free_transfer(transfer);
      return;
    }
    // On a device that was just unplugged the cancel fails, and the read stays libusb's until
    // it ends as NO_DEVICE: freed before that, libusb would use freed memory when the handle
    // closes.
    libusb_cancel_transfer(transfer);
    for (int slices = 0; inFlight_ && slices < kReadEndSlices; ++slices) {
      libusb_handle_events_timeout_completed(link_->context(), &slice, nullptr);
    }
    // A read that did not end is left to libusb, unfreed, and its end no longer reaches this
    // port. No callback runs while the events lock is held.
    bool ended = !inFlight_;
    if (!ended) {
      libusb_lock_events(link_->context());
      ended = !inFlight_;
      if (!ended) {
        transfer->callback = &Abandoned;
      }
      libusb_unlock_events(link_->context());
    }
    if (ended) {
      libusb_free_transfer(transfer);
    }
  }

  static void LIBUSB_CALL Abandoned(libusb_transfer* /*transfer*/) {}

  void Take(std::span<const std::uint8_t, 4> packet) {
    const std::uint8_t cin = packet[0] & 0x0F;
    const auto bytes = UsbMidiPayload(packet);
    if (bytes.empty()) {
      return;
    }
    const bool sysexPart =
        cin == 0x4 || ((cin == 0x5 || cin == 0x6 || cin == 0x7) &&
                       (bytes.front() == 0xF0 || !sysex_.empty() || bytes.back() == 0xF7));
    if (!sysexPart) {
      handler_(bytes);
      return;
    }
    if (bytes.front() == 0xF0) {
      sysex_.clear();  // a SysEx broken off by a new one
    } else if (sysex_.empty()) {
      return;  // the rest of a SysEx whose start was lost
    }
    sysex_.insert(sysex_.end(), bytes.begin(), bytes.end());
    if (cin != 0x4) {
      if (sysex_.back() == 0xF7) {
        handler_(sysex_);
      }
      sysex_.clear();
    }
  }

  std::shared_ptr<UsbLink> link_;
  UsbCable cable_;
  RawMessageHandler handler_;
  std::vector<std::uint8_t> sysex_;
  std::atomic<bool> stop_{false};
  // True while libusb holds the read; cleared by Completed, which runs in whichever thread
  // handles libusb's events then.
  std::atomic<bool> inFlight_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<MidiBackend> UsbMidiBackend::Create(std::unique_ptr<MidiBackend> system) {
  libusb_context* context = nullptr;
  if (libusb_init(&context) != LIBUSB_SUCCESS) {
    return system;
  }
  return std::unique_ptr<MidiBackend>(new UsbMidiBackend(context, std::move(system)));
}

UsbMidiBackend::UsbMidiBackend(libusb_context* context, std::unique_ptr<MidiBackend> system)
    : context_(context), system_(std::move(system)), notices_(std::make_shared<UsbNotices>()) {}

UsbMidiBackend::~UsbMidiBackend() {
  // Ports still open hold links that need the context; they must be closed before this.
  links_.clear();
  libusb_exit(context_);
}

std::string UsbMidiBackend::ApiName() const {
  return !system_->HasSystem() && HasSystem() ? "USB" : system_->ApiName();
}

bool UsbMidiBackend::HasSystem() const {
  return system_->HasSystem() || !ScanDevices().outputs.empty();
}

UsbMidiBackend::Scan UsbMidiBackend::ScanDevices() const {
  Scan scan;
  const auto cards = UsbSoundCards();
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* device = list[i];
    libusb_device_descriptor descriptor{};
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
        libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) {
      continue;
    }
    const std::string product = ProductName(device, descriptor);
    int outCables = 0;
    int inCables = 0;
    for (int n = 0; n < config->bNumInterfaces; ++n) {
      if (config->interface[n].num_altsetting < 1) {
        continue;
      }
      const libusb_interface_descriptor& alt = config->interface[n].altsetting[0];
      if (alt.bInterfaceClass != kAudioClass || alt.bInterfaceSubClass != kMidiStreamingSubclass) {
        continue;
      }
      for (int e = 0; e < alt.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& endpoint = alt.endpoint[e];
        const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
        for (int c = 0; c < CableCount(endpoint); ++c) {
          UsbCable cable;
          cable.product = product;
          cable.location = SysfsName(device);
          cable.number = in ? ++inCables : ++outCables;
          cable.bus = libusb_get_bus_number(device);
          cable.address = libusb_get_device_address(device);
          cable.interface = alt.bInterfaceNumber;
          cable.endpoint = endpoint.bEndpointAddress;
          cable.packetSize = endpoint.wMaxPacketSize;
          cable.interrupt =
              (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT;
          cable.cable = static_cast<std::uint8_t>(c);
          (in ? scan.inputs : scan.outputs).push_back(cable);
        }
      }
    }
    libusb_free_config_descriptor(config);
    char bus[16];
    std::snprintf(bus, sizeof bus, "%03d/%03d", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    if ((outCables > 0 || inCables > 0) && cards.count(bus) != 0) {
      scan.cardNames.push_back(cards.at(bus));
    }
  }
  if (count >= 0) {
    libusb_free_device_list(list, 1);
  }
  NameUsbCables(scan.outputs);
  NameUsbCables(scan.inputs);
  return scan;
}

std::vector<MidiPortInfo> UsbMidiBackend::Merge(const std::vector<UsbCable>& cables,
                                                std::vector<MidiPortInfo> system,
                                                const std::vector<std::string>& cardNames) const {
  std::vector<MidiPortInfo> ports;
  for (const UsbCable& cable : cables) {
    ports.push_back({cable.name});
  }
  for (MidiPortInfo& port : system) {
    const bool usb = std::any_of(cardNames.begin(), cardNames.end(),
                                 [&](const std::string& card) { return OfCard(port.name, card); });
    if (!usb) {
      ports.push_back(std::move(port));
    }
  }
  return ports;
}

std::vector<MidiPortInfo> UsbMidiBackend::ListOutputs() {
  Scan scan = ScanDevices();
  auto ports = Merge(scan.outputs, system_->ListOutputs(), scan.cardNames);
  const std::lock_guard lock(mutex_);
  listed_ = std::move(scan);
  return ports;
}

std::vector<MidiPortInfo> UsbMidiBackend::ListInputs() {
  Scan scan = ScanDevices();
  auto ports = Merge(scan.inputs, system_->ListInputs(), scan.cardNames);
  const std::lock_guard lock(mutex_);
  listed_ = std::move(scan);
  return ports;
}

std::shared_ptr<UsbLink> UsbMidiBackend::Link(const UsbCable& cable, MidiError& error) {
  const std::lock_guard lock(mutex_);
  auto& slot = links_[{cable.bus << 8 | cable.address, cable.interface}];
  if (auto link = slot.lock()) {
    error = MidiError::None;
    return link;
  }
  auto link = UsbLink::Open(context_, cable, notices_, error);
  slot = link;
  return link;
}

namespace {

const UsbCable* Find(const std::vector<UsbCable>& cables, const std::string& name) {
  const auto found = std::find_if(cables.begin(), cables.end(),
                                  [&](const UsbCable& cable) { return cable.name == name; });
  return found == cables.end() ? nullptr : &*found;
}

}  // namespace

std::optional<UsbCable> UsbMidiBackend::ListedCable(std::vector<UsbCable> Scan::*direction,
                                                    const std::string& name) {
  const std::lock_guard lock(mutex_);
  if (!listed_) {
    listed_ = ScanDevices();
  }
  const UsbCable* cable = Find((*listed_).*direction, name);
  return cable == nullptr ? std::nullopt : std::optional<UsbCable>(*cable);
}

std::string UsbMidiBackend::PortRoute(const MidiPortInfo& port) const {
  const std::lock_guard lock(mutex_);
  const bool usb = listed_ && (Find(listed_->outputs, port.name) != nullptr ||
                               Find(listed_->inputs, port.name) != nullptr);
  return usb ? "USB direct" : system_->PortRoute(port);
}

OpenInputResult UsbMidiBackend::OpenInput(const MidiPortInfo& port, ShortMessageHandler handler) {
  const auto cable = ListedCable(&Scan::inputs, port.name);
  if (!cable) {
    return system_->OpenInput(port, std::move(handler));
  }
  MidiError error = MidiError::None;
  auto link = Link(*cable, error);
  if (link == nullptr) {
    return {nullptr, error};
  }
  auto input =
      std::make_unique<UsbInputPort>(std::move(link), *cable, ShortMessagesTo(std::move(handler)));
  return {std::move(input), MidiError::None};
}

OpenInputResult UsbMidiBackend::OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) {
  return system_->OpenVirtualInput(portName, std::move(handler));
}

OpenOutputResult UsbMidiBackend::OpenVirtualOutput(const std::string& portName) {
  return system_->OpenVirtualOutput(portName);
}

OpenOutputResult UsbMidiBackend::OpenOutput(const MidiPortInfo& port) {
  const auto cable = ListedCable(&Scan::outputs, port.name);
  if (!cable) {
    return system_->OpenOutput(port);
  }
  MidiError error = MidiError::None;
  auto link = Link(*cable, error);
  if (link == nullptr) {
    return {nullptr, error};
  }
  return {std::make_unique<UsbOutputPort>(std::move(link), *cable), MidiError::None};
}

MidiError UsbMidiBackend::SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) {
  const auto cable = ListedCable(&Scan::outputs, port.name);
  if (!cable) {
    return system_->SendSysEx(port, message);
  }
  MidiError error = MidiError::None;
  auto link = Link(*cable, error);
  if (link == nullptr) {
    return error;
  }
  error = link->Write(*cable, message);
  if (error == MidiError::SendFailed && Unplugged(cable->name)) {
    return MidiError::NoSuchPort;
  }
  return error;
}

bool UsbMidiBackend::Unplugged(const std::string& name) {
  // An unplugged device fails its transfers before the system has taken it off its lists.
  for (int look = 0; look < 20; ++look) {
    if (Find(ScanDevices().outputs, name) == nullptr) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadSliceMs));
  }
  return false;
}

std::vector<std::string> UsbMidiBackend::TakeNotices() {
  std::vector<std::string> lines = system_->TakeNotices();
  const std::lock_guard lock(notices_->mutex);
  lines.insert(lines.end(), notices_->lines.begin(), notices_->lines.end());
  notices_->lines.clear();
  return lines;
}

}  // namespace movrin
