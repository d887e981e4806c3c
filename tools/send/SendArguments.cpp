#include "SendArguments.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace movrin {
namespace {

SendArgumentsResult Error(std::string message) {
  return {std::nullopt, std::move(message)};
}

// Whole or fractional seconds, 0 meaning no limit.
std::optional<std::optional<std::chrono::milliseconds>> ParseSeconds(std::string_view text) {
  const std::string value(text);
  if (value.empty()) {
    return std::nullopt;
  }
  char* end = nullptr;
  const double seconds = std::strtod(value.c_str(), &end);
  if (end != value.c_str() + value.size() || !std::isfinite(seconds) || seconds < 0 ||
      seconds > 1e6) {
    return std::nullopt;
  }
  if (seconds == 0) {
    return std::optional<std::chrono::milliseconds>{};
  }
  const auto ms = static_cast<long long>(std::ceil(seconds * 1000));
  return std::optional<std::chrono::milliseconds>{std::chrono::milliseconds(ms)};
}

}  // namespace

SendArgumentsResult ParseSendArguments(std::span<const std::string_view> args) {
  SendArguments parsed;
  std::vector<std::string> positional;
  bool info = false;
  bool list = false;
  bool help = false;
  std::optional<std::string> exportPath;
  std::optional<std::string> outPort;
  std::optional<std::string> inPort;
  bool timeoutGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--") {
      for (++i; i < args.size(); ++i) {
        positional.emplace_back(args[i]);
      }
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      positional.emplace_back(arg);
      continue;
    }
    // --name=value and --name value are both accepted for options that take a value.
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) {
        return std::string(*inlineValue);
      }
      if (i + 1 >= args.size()) {
        return std::nullopt;
      }
      return std::string(args[++i]);
    };
    auto noValue = [&]() { return !inlineValue.has_value(); };

    if ((arg == "--help" || arg == "-h") && noValue()) {
      help = true;
    } else if (arg == "--info" && noValue()) {
      info = true;
    } else if (arg == "--list" && noValue()) {
      list = true;
    } else if (arg == "--export" || arg == "--out" || arg == "--in" || arg == "--timeout") {
      auto v = value();
      if (!v) {
        return Error(std::string(arg) + " needs a value");
      }
      if (arg == "--export") {
        exportPath = std::move(*v);
      } else if (arg == "--out") {
        outPort = std::move(*v);
      } else if (arg == "--in") {
        inPort = std::move(*v);
      } else {
        const auto seconds = ParseSeconds(*v);
        if (!seconds) {
          return Error("--timeout needs a number of seconds (0 waits forever), not \"" + *v + "\"");
        }
        parsed.timeout = *seconds;
        timeoutGiven = true;
      }
    } else {
      return Error("unknown option " + std::string(args[i]));
    }
  }

  if (help) {
    parsed.mode = SendMode::Help;
    return {parsed, {}};
  }
  const int modes =
      (info ? 1 : 0) + (list ? 1 : 0) + (exportPath ? 1 : 0) + (outPort || inPort ? 1 : 0);
  if (modes > 1) {
    return Error("--info, --export, --list and sending (--out/--in) cannot be combined");
  }
  if (timeoutGiven && !(outPort || inPort)) {
    return Error("--timeout only applies when sending (--out and --in)");
  }
  if (list) {
    if (!positional.empty()) {
      return Error("--list takes no image");
    }
    parsed.mode = SendMode::List;
    return {parsed, {}};
  }
  if (positional.empty()) {
    return Error(modes == 0 ? "nothing to do" : "no image given");
  }
  if (positional.size() > 1) {
    return Error("only one image can be given, not " + std::to_string(positional.size()));
  }
  parsed.image = positional.front();
  if (info) {
    parsed.mode = SendMode::Info;
  } else if (exportPath) {
    if (exportPath->empty()) {
      return Error("--export needs a file name");
    }
    parsed.mode = SendMode::Export;
    parsed.exportPath = *exportPath;
  } else if (outPort || inPort) {
    if (!outPort || outPort->empty()) {
      return Error("--out PORT is needed: the port that reaches the device");
    }
    if (!inPort || inPort->empty()) {
      return Error("--in PORT is needed: the port on which the device answers");
    }
    parsed.mode = SendMode::Send;
    parsed.outPort = *outPort;
    parsed.inPort = *inPort;
  } else {
    return Error("say what to do with the image: --info, --export OUT.syx or --out/--in");
  }
  return {parsed, {}};
}

std::string SendUsage(std::string_view program) {
  const std::string p(program);
  return "Usage:\n"
         "  " +
         p +
         " --out PORT --in PORT [--timeout SECONDS] IMAGE.bin\n"
         "  " +
         p +
         " --info IMAGE.bin\n"
         "  " +
         p +
         " --export OUT.syx IMAGE.bin\n"
         "  " +
         p +
         " --list\n"
         "\n"
         "Writes a firmware image into a MIDI device: announces the block count, waits for the\n"
         "device's ready note, then sends one 1024-byte block for each request note.\n"
         "\n"
         "  --out PORT        output port that reaches the device\n"
         "  --in PORT         input port on which the device answers\n"
         "                    PORT is an index from --list, an exact name or a unique part of one\n"
         "  --timeout SECONDS wait at most this long for the ready note and for each request\n"
         "                    (default 30; 0 waits forever)\n"
         "  --info            print the image's size, packed length, blocks and CRC-32\n"
         "  --export OUT.syx  write the whole transfer, as sent on the wire, to a .syx file\n"
         "  --list            list the MIDI output and input ports\n"
         "  -h, --help        show this text\n"
         "\n"
         "Exit status:\n"
         "  0    done: transfer complete, file written or information printed\n"
         "  1    bad input: image or output file, unknown or ambiguous port, no MIDI system\n"
         "  2    wrong usage\n"
         "  3    MIDI failure: a port could not be opened, a send failed, the device went away\n"
         "  4    the device did not answer within the timeout\n"
         "  130  interrupted (Ctrl-C); 143 for SIGTERM\n";
}

}  // namespace movrin
