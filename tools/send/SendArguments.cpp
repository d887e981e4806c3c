#include "SendArguments.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "UsageNotes.h"

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
  bool help = false;
  bool info = false;
  bool list = false;
  bool version = false;
  std::optional<std::string> exportPath;
  std::optional<std::string> outPort;
  std::optional<std::string> inPort;
  std::optional<std::string> timeout;
  std::vector<std::string> images;
  CLI::App app;
  app.set_help_flag();
  AddFlags(
      app,
      {{"-h,--help", &help}, {"-V,--version", &version}, {"--info", &info}, {"-l,--list", &list}});
  app.add_option("--export", exportPath);
  app.add_option("-o,--out", outPort);
  app.add_option("-i,--in", inPort);
  app.add_option("-t,--timeout", timeout);
  app.add_option("image", images);
  if (auto error = ParseCommandLine(app, args)) {
    return Error(std::move(*error));
  }

  if (help) {
    parsed.mode = SendMode::Help;
    return {parsed, {}};
  }
  if (version) {
    parsed.mode = SendMode::Version;
    return {parsed, {}};
  }
  const int modes =
      (info ? 1 : 0) + (list ? 1 : 0) + (exportPath ? 1 : 0) + (outPort || inPort ? 1 : 0);
  if (modes > 1) {
    return Error("--info, --export, --list and sending (--out/--in) cannot be combined");
  }
  if (timeout) {
    if (!(outPort || inPort)) {
      return Error("--timeout only applies when sending (--out and --in)");
    }
    const auto seconds = ParseSeconds(*timeout);
    if (!seconds) {
      return Error("--timeout needs a number of seconds (0 waits forever), not \"" + *timeout +
                   "\"");
    }
    parsed.timeout = *seconds;
  }
  if (list) {
    if (!images.empty()) {
      return Error("--list takes no image");
    }
    parsed.mode = SendMode::List;
    return {parsed, {}};
  }
  if (images.empty()) {
    return Error(modes == 0 ? "nothing to do" : "no image given");
  }
  if (images.size() > 1) {
    return Error("only one image can be given, not " + std::to_string(images.size()));
  }
  parsed.image = images.front();
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
         "  -o, --out PORT        output port that reaches the device\n"
         "  -i, --in PORT         input port on which the device answers\n"
         "                        PORT is an index from --list, an exact name or a unique part\n"
         "                        of one\n"
         "  -t, --timeout SECONDS wait at most this long for the ready note and for each request\n"
         "                        (default 30; 0 waits forever)\n"
         "  --info                print the image's size, packed length, blocks and CRC-32\n"
         "  --export OUT.syx      write the whole transfer, as sent on the wire, to a .syx file\n"
         "                        (- for standard output)\n"
         "  -l, --list            list the MIDI output and input ports\n"
         "  -h, --help            show this text\n"
         "  -V, --version         show the program's name and version\n"
         "\n" +
         PlatformUsageNotes() +
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
