// movrin-send: writes a firmware image into a MIDI device from the command line, or shows and
// exports what would be sent.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Diagnostics.h"
#include "Hex32.h"
#include "ImageFileReader.h"
#include "ImageSummary.h"
#include "MidiBackend.h"
#include "OutputFile.h"
#include "PortResolver.h"
#include "ProgressReporter.h"
#include "SendArguments.h"
#include "SignalWatcher.h"
#include "TransferRunner.h"
#include "TransferStream.h"

namespace movrin {
namespace {

constexpr const char* kProgram = "movrin-send";

// Until a transfer runs, a signal ends the program at once: nothing is open that needs closing,
// and the MIDI system's calls may be waiting on a server that does not answer. While a runner
// is registered, the signal stops its transfer instead, and the ports are closed as usual.
std::mutex gRunnerMutex;
TransferRunner* gRunner = nullptr;

void OnSignal(int signal) {
  const std::lock_guard lock(gRunnerMutex);
  if (gRunner != nullptr) {
    gRunner->Interrupt();
    return;
  }
  PrintError("interrupted");
  std::_Exit(128 + signal);
}

class RegisteredRunner {
 public:
  explicit RegisteredRunner(TransferRunner& runner) {
    const std::lock_guard lock(gRunnerMutex);
    gRunner = &runner;
  }
  ~RegisteredRunner() {
    const std::lock_guard lock(gRunnerMutex);
    gRunner = nullptr;
  }
  RegisteredRunner(const RegisteredRunner&) = delete;
  RegisteredRunner& operator=(const RegisteredRunner&) = delete;
};

// The line for a build or a machine without a reachable MIDI system, and why a system that is
// there could not be used.
int NoMidiSystem(MidiBackend& backend) {
  PrintError("no MIDI system could be reached (" + NoMidiSystemDetail() + ")");
  for (const std::string& reason : backend.TakeNotices()) {
    PrintError(reason);
  }
  return Exit(SendExit::BadInput);
}

// The window's sentence about an image (capital, full stop) as one of our lines.
std::string AsLine(std::string sentence) {
  if (!sentence.empty() && sentence.back() == '.') {
    sentence.pop_back();
  }
  if (!sentence.empty()) {
    sentence.front() =
        static_cast<char>(std::tolower(static_cast<unsigned char>(sentence.front())));
  }
  return sentence;
}

// The image, or nothing after one line on stderr that names the file.
std::optional<std::vector<std::uint8_t>> LoadImage(const std::string& name) {
  ImageFileResult file = LoadImageFile(name);
  if (file.ok()) {
    return std::move(file.bytes);
  }
  const std::string tooShortOrLong = ImageLengthMessage(file, name);
  PrintError(!tooShortOrLong.empty()
                 ? AsLine(tooShortOrLong)
                 : "cannot read image \"" + name + "\": " + DescribeWithReason(file));
  return std::nullopt;
}

int RunInfo(const SendArguments& args) {
  const auto image = LoadImage(args.image);
  if (!image) {
    return Exit(SendExit::BadInput);
  }
  std::fputs(FormatImageSummary(SummarizeImage(*image), args.image).c_str(), stdout);
  return Exit(SendExit::Ok);
}

int RunExport(const SendArguments& args) {
  const auto image = LoadImage(args.image);
  if (!image) {
    return Exit(SendExit::BadInput);
  }
  const std::vector<std::uint8_t> stream = TransferStream(*image);
  // Checked before writing: a file replaced by rename is no longer the one stdout goes to.
  std::FILE* const summaryTo = IsStandardOutput(args.exportPath) ? stderr : stdout;
  const WriteFileResult written = WriteOutputFile(args.exportPath, stream, args.image);
  if (!written.ok) {
    PrintError(written.error);
    return Exit(SendExit::BadInput);
  }
  const ImageSummary summary = SummarizeImage(*image);
  const auto blocks = static_cast<long long>(summary.blockCount);
  const std::string then = blocks == 1 ? "block 0" : "blocks 0 to " + std::to_string(blocks - 1);
  std::fprintf(summaryTo, "wrote %zu bytes to %s: announce of %s, then %s\n", stream.size(),
               args.exportPath.c_str(), Counted(blocks, "block").c_str(), then.c_str());
  return Exit(SendExit::Ok);
}

// The route in a column of its own after the names: which ports reach a USB device directly.
void PrintPorts(const MidiBackend& backend, const char* title,
                const std::vector<MidiPortInfo>& ports) {
  std::printf("%s:\n", title);
  if (ports.empty()) {
    std::printf("  (none)\n");
  }
  std::size_t width = 0;
  for (const MidiPortInfo& port : ports) {
    width = std::max(width, port.name.size());
  }
  for (std::size_t i = 0; i < ports.size(); ++i) {
    std::printf("  %zu: %-*s  [%s]\n", i, static_cast<int>(width), ports[i].name.c_str(),
                backend.PortRoute(ports[i]).c_str());
  }
}

int RunList() {
  const auto backend = CreateSystemMidiBackend(kProgram);
  // An empty list would read as a system without ports.
  if (!backend->HasSystem()) {
    return NoMidiSystem(*backend);
  }
  std::printf("MIDI API: %s\n", backend->ApiName().c_str());
  const auto outputs = backend->ListOutputs();
  const auto inputs = backend->ListInputs();
  PrintPorts(*backend, "Output ports (--out)", outputs);
  PrintPorts(*backend, "Input ports (--in)", inputs);
  return Exit(SendExit::Ok);
}

int RunSend(const SendArguments& args, const SignalWatcher& signals) {
  const auto image = LoadImage(args.image);
  if (!image) {
    return Exit(SendExit::BadInput);
  }
  const auto backend = CreateSystemMidiBackend(kProgram);
  if (!backend->HasSystem()) {
    return NoMidiSystem(*backend);
  }
  const auto outputs = backend->ListOutputs();
  const PortResolution out = ResolvePort(outputs, args.outPort);
  if (out.match != PortMatch::Found) {
    PrintError(DescribePortResolution(out, args.outPort, "output", outputs.size()));
    return Exit(SendExit::BadInput);
  }
  const auto inputs = backend->ListInputs();
  const PortResolution in = ResolvePort(inputs, args.inPort);
  if (in.match != PortMatch::Found) {
    PrintError(DescribePortResolution(in, args.inPort, "input", inputs.size()));
    return Exit(SendExit::BadInput);
  }

  TransferRunner::Options options;
  options.output = out.port;
  options.input = in.port;
  options.timeout = args.timeout;
  TransferRunner runner(*backend, options);
  const RegisteredRunner registered(runner);

  const ImageSummary summary = SummarizeImage(*image);
  std::printf("sending %s (%llu bytes, %s, CRC-32 %s) to \"%s\", answers on \"%s\"\n",
              args.image.c_str(), static_cast<unsigned long long>(summary.imageLength),
              Counted(static_cast<long long>(summary.blockCount), "block").c_str(),
              Hex32(summary.crc32).c_str(), out.port.name.c_str(), in.port.name.c_str());
  std::printf("waiting for the device's ready note...\n");
  std::fflush(stdout);

  ProgressReporter progress(stdout, StandardOutputIsTerminal());
  TransferRunner::Observer observer;
  observer.started = [&](std::int64_t blocks, std::int64_t bytes) {
    progress.Start(blocks, bytes);
  };
  observer.blockSent = [&](std::int64_t blocks, std::int64_t bytes) {
    progress.Update(blocks, bytes);
  };
  const auto started = std::chrono::steady_clock::now();
  const TransferRunner::Report report = runner.Run(*image, observer);
  progress.Finish();
  for (const std::string& notice : backend->TakeNotices()) {
    PrintError(notice);
  }

  const std::string message = DescribeTransferReport(report, options);
  switch (report.result) {
    case TransferRunner::Result::Completed: {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::printf("%s in %.2f s\n", message.c_str(), seconds);
      return Exit(SendExit::Ok);
    }
    case TransferRunner::Result::InvalidImage:
      PrintError(message);
      return Exit(SendExit::BadInput);
    case TransferRunner::Result::Timeout:
      PrintError(message);
      return Exit(SendExit::Timeout);
    case TransferRunner::Result::Interrupted:
      PrintError(message);
      return 128 + (signals.received() != 0 ? signals.received() : SIGINT);
    case TransferRunner::Result::InputOpenFailed:
    case TransferRunner::Result::AnnounceFailed:
    case TransferRunner::Result::BlockSendFailed:
    case TransferRunner::Result::PortGone:
      PrintError(message);
      return Exit(SendExit::MidiFailed);
  }
  return Exit(SendExit::MidiFailed);
}

int Main(int argc, char** argv) {
  SetProgramName(kProgram);
  IgnoreBrokenPipe();
  const SignalWatcher signals(&OnSignal);
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const SendArgumentsResult parsed = ParseSendArguments(args);
  if (!parsed.arguments) {
    PrintUsageError(parsed.error);
    return Exit(SendExit::Usage);
  }
  const SendArguments& a = *parsed.arguments;
  switch (a.mode) {
    case SendMode::Help:
      std::fputs(SendUsage(kProgram).c_str(), stdout);
      return Exit(SendExit::Ok);
    case SendMode::Version:
      PrintVersion();
      return Exit(SendExit::Ok);
    case SendMode::Info:
      return RunInfo(a);
    case SendMode::Export:
      return RunExport(a);
    case SendMode::List:
      return RunList();
    case SendMode::Send:
      return RunSend(a, signals);
  }
  return Exit(SendExit::Usage);
}

}  // namespace
}  // namespace movrin

int main(int argc, char** argv) {
  return movrin::Main(argc, argv);
}
