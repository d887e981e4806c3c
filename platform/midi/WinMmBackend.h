#pragma once

// MIDI through Windows' multimedia API. Ports are the devices under the names Windows gives
// them, found again by name at each open, as device numbers shift when one is plugged in or
// out. The MIDI mapper is the first output and the default route, as Windows' own programs
// offer it. WinMM has no ports of a program's own: the virtual ports are Unavailable.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MidiBackend.h"
#include "MidiSystems.h"
#include "WinMmOutputPort.h"

namespace movrin {

class WinMmBackend final : public MidiBackend {
 public:
  // WinMM is always there; it may have no devices.
  [[nodiscard]] static std::unique_ptr<MidiBackend> Create(const std::string& clientName,
                                                           const MidiBackendOptions& options);

  [[nodiscard]] std::string ApiName() const override { return "WinMM"; }
  [[nodiscard]] std::vector<MidiPortInfo> ListOutputs() override;
  [[nodiscard]] std::vector<MidiPortInfo> ListInputs() override;
  [[nodiscard]] MidiPortInfo DefaultOutput() override;
  [[nodiscard]] OpenInputResult OpenInput(const MidiPortInfo& port,
                                          ShortMessageHandler handler) override;
  [[nodiscard]] OpenInputResult OpenVirtualInput(const std::string& portName,
                                                 RawMessageHandler handler) override;
  [[nodiscard]] OpenOutputResult OpenOutput(const MidiPortInfo& port) override;
  [[nodiscard]] OpenOutputResult OpenVirtualOutput(const std::string& portName) override;
  [[nodiscard]] MidiError SendSysEx(const MidiPortInfo& port,
                                    std::span<const std::uint8_t> message) override;

 private:
  struct Device {
    std::string name;
    UINT id;
  };
  [[nodiscard]] static std::vector<Device> Outputs();
  [[nodiscard]] static std::vector<Device> Inputs();
  [[nodiscard]] static std::optional<UINT> Find(const std::vector<Device>& devices,
                                                const std::string& name);

  // The transfer's output stays open from one message to the next: opening the mapper or a
  // driver for each block would cost more than the block.
  std::mutex sendMutex_;
  std::string senderName_;
  std::unique_ptr<WinMmOutputPort> sender_;
};

}  // namespace movrin
