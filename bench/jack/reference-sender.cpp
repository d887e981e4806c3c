// The least a sender can do: one output port kept open for the whole transfer, the same
// transfer driver, no progress and no port checks. The benchmark compares movrin-send, which
// waits for every message to be played out and checks its ports, with it.
//
//   movrin-reference-sender OUT_PORT IN_PORT IMAGE.bin

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ImageFileReader.h"
#include "MidiBackend.h"
#include "MidiInbox.h"
#include "PortResolver.h"
#include "TransferDriver.h"

namespace movrin {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTimeout{10000};

int Fail(const std::string& message) {
  std::fprintf(stderr, "reference-sender: %s\n", message.c_str());
  return 1;
}

int Main(int argc, char** argv) {
  if (argc != 4) {
    return Fail("usage: movrin-reference-sender OUT_PORT IN_PORT IMAGE.bin");
  }
  const ImageFileResult image = LoadImageFile(argv[3]);
  if (!image.ok()) {
    return Fail(std::string("cannot use image ") + argv[3]);
  }
  auto backend = CreateSystemMidiBackend("movrin-reference");
  const auto outputs = backend->ListOutputs();
  const auto inputs = backend->ListInputs();
  const PortResolution out = ResolvePort(outputs, argv[1]);
  const PortResolution in = ResolvePort(inputs, argv[2]);
  if (out.match != PortMatch::Found || in.match != PortMatch::Found) {
    return Fail("ports not found");
  }

  MidiInbox inbox;
  OpenInputResult input =
      backend->OpenInput(in.port, [&inbox](std::uint32_t message) { inbox.Push(message); });
  OpenOutputResult output = backend->OpenOutput(out.port);
  if (!input.port || !output.port) {
    return Fail("cannot open the ports");
  }

  TransferDriver driver(kTimeout);
  const auto start = Clock::now();
  TransferLink link;
  link.send = [&output](std::span<const std::uint8_t> message) {
    return output.port->Send(message) == MidiError::None;
  };
  link.receive = [&inbox](std::optional<Clock::time_point> deadline) {
    return inbox.WaitPopUntil(deadline.value_or(Clock::now() + kTimeout));
  };
  const TransferDriver::Action end = DriveTransfer(driver, driver.Begin(image.bytes), link);
  if (end.kind == TransferDriver::Action::Kind::TimedOut) {
    return Fail("timeout after block " + std::to_string(end.blocksSent));
  }
  if (end.kind != TransferDriver::Action::Kind::Completed) {
    return Fail("send failed after block " + std::to_string(end.blocksSent));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // A kept-open port only queues: give the last block a few periods to be played out before
  // the port goes away with the process (outside the timed part).
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::printf("reference: %lld blocks in %.3f s\n", static_cast<long long>(end.blockCount),
              seconds);
  return 0;
}

}  // namespace
}  // namespace movrin

int main(int argc, char** argv) {
  return movrin::Main(argc, argv);
}
