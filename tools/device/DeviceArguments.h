#pragma once

// The command line of movrin-device, parsed without touching files or ports.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace movrin {

enum class Pace { None, Din, Fixed };

struct DeviceArguments {
  bool help = false;
  bool version = false;
  std::string name = "movrin-device";
  std::string savePath;
  std::string expectPath;
  Pace pace = Pace::None;
  std::chrono::milliseconds fixedDelay{0};  // Pace::Fixed
  bool noise = false;
  std::uint32_t seed = 1;
  bool duplicateReady = false;
  bool earlyRequest = false;
  std::optional<std::int64_t> silentAfter;
  std::optional<std::int64_t> closeAfter;
  bool once = false;
};

struct DeviceArgumentsResult {
  std::optional<DeviceArguments> arguments;
  std::string error;
};

// `args` excludes the program name.
[[nodiscard]] DeviceArgumentsResult ParseDeviceArguments(std::span<const std::string_view> args);

[[nodiscard]] std::string DeviceUsage(std::string_view program);

// Time a message of `bytes` bytes takes on a DIN MIDI cable: 31250 baud, 10 bits a byte.
[[nodiscard]] constexpr std::chrono::microseconds DinWireTime(std::size_t bytes) {
  return std::chrono::microseconds(static_cast<std::int64_t>(bytes) * 320);
}

enum class DeviceExit : int {
  Ok = 0,
  Failed = 1,  // a transfer was malformed, differed from --expect, or could not be saved
  Usage = 2,
  MidiFailed = 3,  // no MIDI system, or the virtual ports could not be opened
};

}  // namespace movrin
