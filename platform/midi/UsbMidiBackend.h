#pragma once

// USB MIDI interfaces driven directly over libusb, beside the ports of the system's MIDI
// back end. The kernel's USB MIDI driver turns a byte stream into USB packets with a status
// parser, which breaks every SysEx that carries bytes of 0x80 and above (ours do); here SysEx
// is packed by position. A USB MIDI cable is offered once: the system's ports that belong to a
// USB MIDI card are left out of the lists, so a transfer cannot take the corrupting path.
//
// Opening a port detaches the kernel's driver from that one interface and claims it; the last
// port of the interface to close releases it and asks the kernel to take it back. After
// SIGKILL the kernel frees the claim when it closes our file but does not bind its driver
// again: the card's MIDI port stays gone until the device is unplugged and plugged in again.
// The device is never reset: it may still be writing the image it just received.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MidiBackend.h"
#include "UsbCable.h"

struct libusb_context;

namespace movrin {

class UsbLink;
struct UsbNotices;

class UsbMidiBackend final : public MidiBackend {
 public:
  // `system` keeps its ports beside the USB ones; it is returned alone when libusb cannot
  // start.
  [[nodiscard]] static std::unique_ptr<MidiBackend> Create(std::unique_ptr<MidiBackend> system);
  ~UsbMidiBackend() override;

  [[nodiscard]] std::string ApiName() const override;
  [[nodiscard]] bool HasSystem() const override;
  [[nodiscard]] std::string PortRoute(const MidiPortInfo& port) const override;
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override;
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override;
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& port,
                                          ShortMessageHandler handler) override;
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) override;
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& portName) override;
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& port) override;
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) override;
  [[nodiscard]] std::uint64_t XrunCount() const override { return system_->XrunCount(); }
  [[nodiscard]] bool SystemGone() const override { return system_->SystemGone(); }
  [[nodiscard]] std::vector<std::string> TakeNotices() override;

 private:
  UsbMidiBackend(libusb_context* context, std::unique_ptr<MidiBackend> system);

  // The cables there are now, and the names of the system's ports that are the same cables.
  struct Scan {
    std::vector<UsbCable> outputs;
    std::vector<UsbCable> inputs;
    std::vector<std::string> cardNames;
  };
  [[nodiscard]] Scan ScanDevices() const;
  // The cable of a USB port as the last listing showed it, so a send does not scan the bus;
  // nothing for the system's ports.
  [[nodiscard]] std::optional<UsbCable> ListedCable(std::vector<UsbCable> Scan::*direction,
                                                    const std::string& name);
  [[nodiscard]] std::vector<MidiPortInfo> Merge(const std::vector<UsbCable>& cables,
                                                std::vector<MidiPortInfo> system,
                                                const std::vector<std::string>& cardNames) const;
  // True when the output cable `name` has gone from the lists within about a second.
  [[nodiscard]] bool Unplugged(const std::string& name);
  // The claimed interface, shared by every open port on it.
  [[nodiscard]] std::shared_ptr<UsbLink> Link(const UsbCable& cable, MidiError& error);

  libusb_context* context_;
  std::unique_ptr<MidiBackend> system_;
  mutable std::mutex mutex_;  // links_ and listed_: ports close on any thread
  std::map<std::pair<int, int>, std::weak_ptr<UsbLink>> links_;
  std::optional<Scan> listed_;
  std::shared_ptr<UsbNotices> notices_;  // also written by links that outlive a call
};

}  // namespace movrin
