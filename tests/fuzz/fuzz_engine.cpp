// The transfer driver fed arbitrary sequences of device messages, send outcomes, passing time,
// takes of what was held and aborts. Whatever comes, one message is out at a time, blocks go out in
// order and never twice, the transfer completes only after exactly every block, it times out
// exactly when the device stayed silent for the whole timeout (noise never extends it), and nothing
// goes out after an end.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Protocol.h"
#include "TransferDriver.h"
#include "UpdateMessages.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  using movrin::TransferDriver;
  using Kind = TransferDriver::Action::Kind;
  constexpr std::chrono::milliseconds kTimeout{100};

  // The first two bytes choose the image size: up to about 18 blocks.
  const std::size_t imageSize = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % 16384;
  TransferDriver::TimePoint now{};
  TransferDriver driver(kTimeout, [&now] { return now; });
  TransferDriver::Action action = driver.Begin(std::vector<std::uint8_t>(imageSize, 0xA5));
  Check(action.Sends() == (imageSize != 0));
  const std::int64_t blocks = driver.blockCount();
  bool pending = action.Sends();  // a send not yet reported
  bool ended = !pending;
  std::int64_t next = 0;  // the block due next
  TransferDriver::TimePoint waitingSince = now;

  for (std::size_t i = 2; i < size; ++i) {
    const std::uint8_t op = data[i];
    const bool wasPending = pending;
    switch (op % 6) {
      case 0:
      case 1:
        action = driver.OnSent(op % 6 == 0 || (op & 0x80) == 0);
        pending = false;
        break;
      case 2:
        action = driver.OnShortMessage(movrin::ReadyNote);
        break;
      case 3:
        action = driver.OnShortMessage(op & 0x40 ? movrin::NextNote : op * 0x010203u);
        break;
      case 4:
        now += std::chrono::milliseconds(op);
        action = driver.OnTick();
        if (driver.blockCount() > 0 && !ended && !wasPending && now - waitingSince >= kTimeout) {
          Check(action.kind == Kind::TimedOut);
        }
        break;
      case 5:
        action = op & 0x80 ? driver.Abort() : driver.TakeHeld();
        pending = pending && action.kind != Kind::Aborted;
        break;
    }
    if (action.Sends()) {
      Check(!wasPending && !ended);
      pending = true;
    }
    if (action.kind == Kind::SendBlock) {
      const auto parsed = movrin::ParseUpdateMessage(action.message);
      Check(action.block == next && next < blocks && parsed.ok() &&
            parsed.value == (next & 0xFFFF));
    }
    if (action.kind == Kind::BlockSent || action.kind == Kind::Completed) {
      Check(action.blocksSent == ++next && (action.kind == Kind::Completed) == (next == blocks));
    }
    if (action.kind == Kind::TimedOut) {
      Check(!wasPending && now - waitingSince >= kTimeout);
    }
    // The wait restarts at these three only, whatever else the device sends.
    const bool restarts = action.kind == Kind::Announced || action.kind == Kind::Started ||
                          action.kind == Kind::BlockSent;
    Check(action.waitRestarted == restarts);
    waitingSince = restarts ? now : waitingSince;
    if (action.Ends()) {
      Check(!driver.running() && (!ended || action.kind == Kind::Aborted));
      ended = true;
    }
  }
  return 0;
}
