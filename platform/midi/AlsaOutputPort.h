#pragma once

// An ALSA sequencer output on a client of its own, written without RtMidi: each message goes
// out as one event (see AlsaEvents.h), and a send returns once the kernel has taken the event.
// Direct events are delivered while the kernel takes them, so a taken event has reached the
// destination's queue or driver. With a destination, the port is subscribed to it (a hardware
// port opens its device on subscription) and every event is addressed to it, so a destination
// gone by the time of writing is an error from the kernel, not a message sent to nobody.

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "AlsaEvents.h"
#include "MidiBackend.h"

namespace movrin {

// Routes alsa-lib's own error messages to nowhere, for the whole process.
void SilenceAlsaLibrary();

class AlsaOutputPort final : public MidiOutput {
 public:
  using OpenResult = Opened<AlsaOutputPort>;

  // Creates `portName` on a new client named `clientName`. Unless `destination` is empty it
  // names a port as listed on ALSA, which must still be there under that name; the new port is
  // subscribed to it.
  [[nodiscard]] static OpenResult Open(const std::string& clientName, const std::string& portName,
                                       const std::string& destination);

  ~AlsaOutputPort() override;

  // Within two seconds: time enough for a block on a loaded machine.
  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message) override {
    return Send(message, std::chrono::milliseconds{2000});
  }

  // Returns once the kernel has taken the whole event, or with the reason it did not; an event
  // given up on is dropped, never sent with a later one.
  [[nodiscard]] MidiError Send(std::span<const std::uint8_t> message,
                               std::chrono::milliseconds timeout);

 private:
  struct SeqCloser {
    void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
  };
  using Seq = std::unique_ptr<snd_seq_t, SeqCloser>;

  // Deleting the port also ends its subscription.
  class Port {
   public:
    Port(snd_seq_t* seq, int id) : seq_(seq), id_(id) {}
    ~Port() { snd_seq_delete_port(seq_, id_); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    [[nodiscard]] int id() const { return id_; }

   private:
    snd_seq_t* seq_;
    int id_;
  };

  AlsaOutputPort(Seq seq, std::unique_ptr<Port> port, std::optional<AlsaAddress> destination);
  [[nodiscard]] MidiError Drain(std::chrono::steady_clock::time_point deadline);

  Seq seq_;
  std::unique_ptr<Port> port_;  // declared after seq_: goes first
  std::optional<AlsaAddress> destination_;
};

// The address of the port listed as `name`, when it is there under that name and takes
// subscriptions for writing.
[[nodiscard]] std::optional<AlsaAddress> FindAlsaDestination(snd_seq_t* seq,
                                                             const std::string& name);

}  // namespace movrin
