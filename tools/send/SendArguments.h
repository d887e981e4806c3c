#pragma once

// The command line of movrin-send, parsed without touching files or ports.

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace movrin {

enum class SendMode { Help, Version, Info, Export, List, Send };

struct SendArguments {
  SendMode mode = SendMode::Help;
  std::string image;       // Info, Export, Send
  std::string exportPath;  // Export
  std::string outPort;     // Send
  std::string inPort;      // Send
  // How long to wait for the ready note and for each request note; none means forever.
  std::optional<std::chrono::milliseconds> timeout = std::chrono::seconds(30);
};

struct SendArgumentsResult {
  std::optional<SendArguments> arguments;
  std::string error;  // what was wrong with the command line, when arguments is empty
};

// `args` excludes the program name.
[[nodiscard]] SendArgumentsResult ParseSendArguments(std::span<const std::string_view> args);

[[nodiscard]] std::string SendUsage(std::string_view program);

// Exit codes, as --help documents them.
enum class SendExit : int {
  Ok = 0,
  BadInput = 1,  // image or output file, port not found or ambiguous, no MIDI system
  Usage = 2,
  MidiFailed = 3,     // a port could not be opened, a send failed, the device's port went away
  Timeout = 4,        // the device did not answer in time
  Interrupted = 130,  // 128 + the signal (130 for Ctrl-C, 143 for SIGTERM)
};

}  // namespace movrin
