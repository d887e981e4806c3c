#pragma once

// The program's whole use of the system's MIDI services, behind one small interface, with one
// back end per MIDI system in midi/ that only the factory knows (the build keeps that folder
// and the RtMidi, ALSA, JACK and libusb headers from everything else). "No ports" is a normal
// state: a backend always exists, and its lists may simply be empty.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace movrin {

struct MidiPortInfo {
  std::string name;  // as shown to the user; also what identifies the port when it is opened

  friend bool operator==(const MidiPortInfo&, const MidiPortInfo&) = default;
};

enum class MidiError {
  None,
  Unavailable,   // no MIDI system could be reached
  NoSuchPort,    // the port is gone (or never existed)
  OpenFailed,    // the port exists but could not be opened or connected
  SendFailed,    // the system refused the message
  DrainTimeout,  // the message was not played out in time
  NoPermission,  // the port's device node is not open to this user (USB without the udev rule)
};

[[nodiscard]] std::string Describe(MidiError error);

// Every back end sends a message of up to this many bytes whole, in one send; JACK's output
// refuses a longer one (SendFailed). The update protocol's messages must fit.
inline constexpr std::size_t kLargestMessageBytes = 32 * 1024;

// A write to a server that died (JACK's socket) or to a reader that went away (a closed pipe on
// standard output) must fail that call, not end the process: ignores SIGPIPE for the whole
// process. Every program calls it first; opening a JACK client calls it as well.
void IgnoreBrokenPipe();

// True for ports that only echo what they receive (ALSA's "Midi Through"): never a default.
[[nodiscard]] bool IsThroughPort(const std::string& name);

// Runs on the backend's own thread, once per incoming short message, in arrival order. The
// value is status | data1 << 8 | data2 << 16. System Exclusive and other long input is dropped.
using ShortMessageHandler = std::function<void(std::uint32_t message)>;

// The value a ShortMessageHandler gets for one complete incoming message, or nothing for what
// it never sees: System Exclusive, timing (clock, MTC quarter frame), other real-time bytes,
// undefined statuses and malformed input. A message shorter than three bytes leaves the
// missing data bytes zero.
[[nodiscard]] std::optional<std::uint32_t> ShortMessageValue(std::span<const std::uint8_t> message);

// An open input port; closing is destruction. After the destructor returns the handler is
// never called again.
class MidiInput {
 public:
  virtual ~MidiInput() = default;
  MidiInput() = default;
  MidiInput(const MidiInput&) = delete;
  MidiInput& operator=(const MidiInput&) = delete;
};

// Runs on the backend's own thread with each complete incoming message, System Exclusive
// included: for the device side, which must see the blocks.
using RawMessageHandler = std::function<void(std::span<const std::uint8_t> message)>;

// A port's raw input as the short messages `handler` takes: the rest is dropped.
[[nodiscard]] RawMessageHandler ShortMessagesTo(ShortMessageHandler handler);

// An output port kept open: for the virtual device's replies and for reference senders.
class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  MidiOutput() = default;
  MidiOutput(const MidiOutput&) = delete;
  MidiOutput& operator=(const MidiOutput&) = delete;

  [[nodiscard]] virtual MidiError Send(std::span<const std::uint8_t> message) = 0;
};

// What opening a port gives: the port exactly when error is None. A back end's own port class
// passes on as the interface's.
template <typename Port>
struct Opened {
  Opened() = default;
  Opened(std::unique_ptr<Port> opened, MidiError why) : port(std::move(opened)), error(why) {}
  template <typename Derived>
  requires std::is_convertible_v<Derived*, Port*> Opened(
      Opened<Derived>&& other)  // NOLINT(google-explicit-constructor): a port is a port
      : port(std::move(other.port)), error(other.error) {}

  std::unique_ptr<Port> port;
  MidiError error = MidiError::None;
};

using OpenOutputResult = Opened<MidiOutput>;
using OpenInputResult = Opened<MidiInput>;

class MidiBackend {
 public:
  virtual ~MidiBackend() = default;

  // "ALSA", "JACK", "none" or "memory": shown in lists and messages.
  [[nodiscard]] virtual std::string ApiName() const = 0;

  // False for the backend that stands in when no MIDI system could be reached.
  [[nodiscard]] virtual bool HasSystem() const { return true; }
  // The MIDI system was there and has gone (JACK's server stopped or dropped us): nothing on
  // this backend works again. Callable from any thread.
  [[nodiscard]] virtual bool SystemGone() const { return false; }
  // What keeps the system that is there from working now, as the start of a sentence ("the JACK
  // server "NAME" does not answer"), or empty. Callable from any thread.
  [[nodiscard]] virtual std::string SystemTrouble() const { return {}; }

  // The way messages to and from a listed port take, for lists that tell ports apart by it:
  // "USB direct" for a USB MIDI cable reached without the kernel's driver, else ApiName().
  [[nodiscard]] virtual std::string PortRoute(const MidiPortInfo& /*port*/) const {
    return ApiName();
  }

  // Ports in a stable order; a port of our own client is not listed.
  [[nodiscard]] virtual std::vector<MidiPortInfo> ListOutputs() = 0;
  [[nodiscard]] virtual std::vector<MidiPortInfo> ListInputs() = 0;

  // The port that stands for "the system's default route" (first output that is not a through
  // port); empty name when there is none.
  [[nodiscard]] virtual MidiPortInfo DefaultOutput();

  [[nodiscard]] virtual OpenInputResult OpenInput(const MidiPortInfo& port,
                                                  ShortMessageHandler handler) = 0;

  // Ports of our own that other programs connect to, named "<client>:<portName>" on JACK.
  [[nodiscard]] virtual OpenInputResult OpenVirtualInput(const std::string& portName,
                                                         RawMessageHandler handler) = 0;
  [[nodiscard]] virtual OpenOutputResult OpenVirtualOutput(const std::string& portName) = 0;

  // An output kept open until the result is destroyed.
  [[nodiscard]] virtual OpenOutputResult OpenOutput(const MidiPortInfo& port) = 0;

  // One message, one send: returns once the whole message has been handed to the driver
  // and played out, or with the reason it was not.
  [[nodiscard]] virtual MidiError SendSysEx(const MidiPortInfo& port,
                                            std::span<const std::uint8_t> message) = 0;

  // How many times the MIDI system reported that it fell behind (JACK's xruns) since this
  // backend was created; a cycle missed that way may have lost MIDI. 0 where there is no such
  // report. Callable from any thread.
  [[nodiscard]] virtual std::uint64_t XrunCount() const { return 0; }

  // What the user should hear of that no call's result says (a USB device the kernel could not
  // take back after a transfer), once each, oldest first.
  [[nodiscard]] virtual std::vector<std::string> TakeNotices() { return {}; }
};

// How long a MIDI server (JACK's) may take to take a new client before it counts as not
// answering: well under a second is usual, but a loaded server that is still finishing
// another client's close may take many.
inline constexpr std::chrono::seconds kServerAnswerLimit{15};

// The system's MIDI: the ALSA sequencer when it is there, else a running JACK server, else a
// backend with no ports (HasSystem() false); USB MIDI interfaces beside it, driven directly.
// Each only where the build has it. Never prints; never throws.
[[nodiscard]] std::unique_ptr<MidiBackend> CreateSystemMidiBackend(const std::string& clientName);

// The MIDI systems this build can reach, in the order they are tried ("ALSA", "JACK", "USB");
// empty for a build without any.
[[nodiscard]] std::vector<std::string> BuiltMidiSystems();

// For messages that say no system answered: "tried ALSA, JACK and USB", or "this build has
// none".
[[nodiscard]] std::string NoMidiSystemDetail();

}  // namespace movrin
