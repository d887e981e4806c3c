#include "DeviceArguments.h"

#include <charconv>
#include <tuple>

#include "CommandLine.h"

namespace movrin {
namespace {

DeviceArgumentsResult Error(std::string message) {
  return {std::nullopt, std::move(message)};
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

DeviceArgumentsResult ParseDeviceArguments(std::span<const std::string_view> args) {
  DeviceArguments parsed;
  std::optional<std::string> pace;
  std::optional<std::string> seed;
  std::optional<std::string> silentAfter;
  std::optional<std::string> closeAfter;
  CLI::App app;
  app.set_help_flag();
  AddFlags(app, {{"-h,--help", &parsed.help},
                 {"-V,--version", &parsed.version},
                 {"--noise", &parsed.noise},
                 {"--duplicate-ready", &parsed.duplicateReady},
                 {"--early-request", &parsed.earlyRequest},
                 {"--once", &parsed.once}});
  const std::pair<const char*, std::string*> texts[] = {
      {"--name", &parsed.name}, {"--save", &parsed.savePath}, {"--expect", &parsed.expectPath}};
  for (const auto& [name, value] : texts) {
    app.add_option(name, *value);
  }
  app.add_option("--pace", pace);
  app.add_option("--seed", seed);
  app.add_option("--silent-after", silentAfter);
  app.add_option("--close-after", closeAfter);
  if (auto error = ParseCommandLine(app, args)) {
    return Error(std::move(*error));
  }
  for (const auto& [name, value] : texts) {
    if (app.count(name) > 0 && value->empty()) {
      return Error(std::string(name) + " needs a value");
    }
  }
  if (pace) {
    if (*pace == "none") {
      parsed.pace = Pace::None;
    } else if (*pace == "din") {
      parsed.pace = Pace::Din;
    } else if (const auto ms = Number<std::uint32_t>(*pace); ms && *ms <= 60000) {
      parsed.pace = Pace::Fixed;
      parsed.fixedDelay = std::chrono::milliseconds(*ms);
    } else {
      return Error("--pace takes none, din or a delay in milliseconds, not \"" + *pace + "\"");
    }
  }
  if (seed) {
    const auto number = Number<std::uint32_t>(*seed);
    if (!number) {
      return Error("--seed needs a whole number, not \"" + *seed + "\"");
    }
    parsed.seed = *number;
  }
  const std::tuple<const char*, const std::optional<std::string>&, std::optional<std::int64_t>&>
      blocks[] = {{"--silent-after", silentAfter, parsed.silentAfter},
                  {"--close-after", closeAfter, parsed.closeAfter}};
  for (const auto& [name, text, block] : blocks) {
    if (!text) {
      continue;
    }
    block = Number<std::int64_t>(*text);
    if (!block || *block < 0) {
      return Error(std::string(name) + " needs a block number (0 or more), not \"" + *text + "\"");
    }
  }
  return {parsed, {}};
}

std::string DeviceUsage(std::string_view program) {
  const std::string p(program);
  return "Usage: " + p +
         " [options]\n"
         "\n"
         "A virtual MIDI device that receives firmware images: opens the ports \"in\" and \"out\"\n"
         "of its own client, answers an announce with the ready note and asks for every block\n"
         "with a request note, checks each block and unpacks the image after the last one.\n"
         "Prints \"ready\" once its ports exist and one verdict line per transfer.\n"
         "\n"
         "  --name NAME         client name (default movrin-device)\n"
         "  --save FILE         write each received image to FILE\n"
         "  --expect IMAGE      compare each received image with IMAGE\n"
         "  --pace none|din|MS  delay before each reply: none (default), the time the previous\n"
         "                      message takes on a DIN cable (31250 baud), or MS milliseconds\n"
         "  --once              exit after one transfer (default: serve until Ctrl-C)\n"
         "\n"
         "Faults, for testing senders:\n"
         "  --noise             stray short messages, and the reply notes out of phase\n"
         "  --seed N            seed for --noise (default 1)\n"
         "  --duplicate-ready   send the ready note twice\n"
         "  --early-request     send a request note before the ready note\n"
         "  --silent-after K    stop replying once block K (from 0) has arrived\n"
         "  --close-after K     close the ports once block K has arrived, then wait for Ctrl-C\n"
         "  -h, --help          show this text\n"
         "  -V, --version       show the program's name and version\n"
         "\n"
         "Exit status:\n"
         "  0  every transfer arrived whole (and identical to --expect)\n"
         "  1  a transfer was malformed, differed, was cut short with --once, or was not saved\n"
         "  2  wrong usage\n"
         "  3  no MIDI system, the ports could not be opened, or the server went away\n";
}

}  // namespace movrin
