// movrin-device: a virtual MIDI device that receives firmware images, for trying movrin-send
// without hardware, for the end-to-end tests and for firmware developers.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceArguments.h"
#include "DeviceSession.h"
#include "Diagnostics.h"
#include "ImageCheck.h"
#include "ImageFileReader.h"
#include "MidiBackend.h"
#include "OutputFile.h"
#include "VirtualDevice.h"

namespace movrin {
namespace {

constexpr const char* kProgram = "movrin-device";

int Main(int argc, char** argv) {
  SetProgramName(kProgram);
  IgnoreBrokenPipe();
  std::vector<std::string_view> argList(argv + 1, argv + argc);
  DeviceArgumentsResult parsed = ParseDeviceArguments(argList);
  // Standard output carries the status lines; an image there would be mixed into them.
  if (parsed.arguments && IsStandardOutput(parsed.arguments->savePath)) {
    parsed = {std::nullopt,
              "--save cannot write to standard output, which carries the status lines"};
  }
  if (!parsed.arguments) {
    PrintUsageError(parsed.error);
    return Exit(DeviceExit::Usage);
  }
  const DeviceArguments& args = *parsed.arguments;
  if (args.help) {
    std::fputs(DeviceUsage(kProgram).c_str(), stdout);
    return Exit(DeviceExit::Ok);
  }
  if (args.version) {
    PrintVersion();
    return Exit(DeviceExit::Ok);
  }
  DeviceSession::Options options;
  options.duplicateReady = args.duplicateReady;
  options.earlyRequest = args.earlyRequest;
  options.silentAfter = args.silentAfter;
  options.closeAfter = args.closeAfter;
  options.noise = args.noise;
  options.seed = args.seed;
  if (!args.expectPath.empty()) {
    ImageFileResult expected = ReadImageFile(args.expectPath, kMaxImageLength);
    if (!expected.ok()) {
      PrintError("cannot read expected image \"" + args.expectPath +
                 "\": " + DescribeWithReason(expected));
      return Exit(DeviceExit::Failed);
    }
    options.expected = std::move(expected.bytes);
  }
  VirtualDevice device(args, std::move(options));
  return device.Run();
}

}  // namespace
}  // namespace movrin

int main(int argc, char** argv) {
  return movrin::Main(argc, argv);
}
