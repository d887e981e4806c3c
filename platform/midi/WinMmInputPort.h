#pragma once

// One WinMM input device, open and started. WinMM calls back on a thread of its own with each
// short message (MIM_DATA); System Exclusive input is not asked for, as no buffers are given.

#include <memory>
#include <mutex>

#include "MidiBackend.h"
#include "WinMmSupport.h"

namespace movrin {

class WinMmInputPort final : public MidiInput {
 public:
  struct Opened {
    std::unique_ptr<WinMmInputPort> port;
    MidiError error = MidiError::None;
  };
  [[nodiscard]] static Opened Open(UINT deviceId, ShortMessageHandler handler);

  ~WinMmInputPort() override;

 private:
  explicit WinMmInputPort(ShortMessageHandler handler) : handler_(std::move(handler)) {}
  static void CALLBACK OnEvent(HMIDIIN in, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                               DWORD_PTR param2);

  ShortMessageHandler handler_;
  std::mutex mutex_;  // held while the handler runs, so that closing waits for it
  bool open_ = true;
  HMIDIIN in_ = nullptr;
};

}  // namespace movrin
