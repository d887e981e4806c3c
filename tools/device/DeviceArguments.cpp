#include "DeviceArguments.h"

#include <charconv>

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
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    auto value = [&]() -> std::optional<std::string_view> {
      if (inlineValue) {
        return inlineValue;
      }
      if (i + 1 >= args.size()) {
        return std::nullopt;
      }
      return args[++i];
    };
    const bool takesValue = arg == "--name" || arg == "--save" || arg == "--expect" ||
                            arg == "--pace" || arg == "--seed" || arg == "--silent-after" ||
                            arg == "--close-after";
    if (!takesValue && inlineValue) {
      return Error(std::string(arg) + " takes no value");
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--noise") {
      parsed.noise = true;
    } else if (arg == "--duplicate-ready") {
      parsed.duplicateReady = true;
    } else if (arg == "--early-request") {
      parsed.earlyRequest = true;
    } else if (arg == "--once") {
      parsed.once = true;
    } else if (takesValue) {
      const auto v = value();
      if (!v || v->empty()) {
        return Error(std::string(arg) + " needs a value");
      }
      if (arg == "--name") {
        parsed.name = *v;
      } else if (arg == "--save") {
        parsed.savePath = *v;
      } else if (arg == "--expect") {
        parsed.expectPath = *v;
      } else if (arg == "--pace") {
        if (*v == "none") {
          parsed.pace = Pace::None;
        } else if (*v == "din") {
          parsed.pace = Pace::Din;
        } else if (const auto ms = Number<std::uint32_t>(*v); ms && *ms <= 60000) {
          parsed.pace = Pace::Fixed;
          parsed.fixedDelay = std::chrono::milliseconds(*ms);
        } else {
          return Error("--pace takes none, din or a delay in milliseconds, not \"" +
                       std::string(*v) + "\"");
        }
      } else if (arg == "--seed") {
        const auto seed = Number<std::uint32_t>(*v);
        if (!seed) {
          return Error("--seed needs a whole number, not \"" + std::string(*v) + "\"");
        }
        parsed.seed = *seed;
      } else {
        const auto block = Number<std::int64_t>(*v);
        if (!block || *block < 0) {
          return Error(std::string(arg) + " needs a block number (0 or more), not \"" +
                       std::string(*v) + "\"");
        }
        (arg == "--silent-after" ? parsed.silentAfter : parsed.closeAfter) = *block;
      }
    } else {
      return Error("unknown argument " + std::string(args[i]));
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
         "\n"
         "Exit status:\n"
         "  0  every transfer arrived whole (and identical to --expect)\n"
         "  1  a transfer was malformed, differed, was cut short with --once, or was not saved\n"
         "  2  wrong usage\n"
         "  3  no MIDI system, or the ports could not be opened\n";
}

}  // namespace movrin
