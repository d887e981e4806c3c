#include "TransferStream.h"

#include <utility>

#include "Protocol.h"
#include "TransferDriver.h"

namespace movrin {

std::vector<std::uint8_t> TransferStream(std::span<const std::uint8_t> image) {
  TransferDriver driver;
  TransferDriver::Action first = driver.Begin(image);
  if (!first.Sends()) {
    return {};
  }
  // The stream's final size is known: one allocation instead of a doubling series.
  const BlockPlan& plan = driver.plan();
  std::vector<std::uint8_t> stream;
  stream.reserve(first.message.size() + static_cast<std::size_t>(plan.packedLength) +
                 static_cast<std::size_t>(plan.blockCount) * kBlockOverhead);
  // Play the device: one ready note, then a request for every block, and no more.
  std::int64_t notes = 0;
  TransferLink link;
  link.receive = [&](auto) -> std::optional<std::uint32_t> {
    if (notes > plan.blockCount) {
      return std::nullopt;
    }
    return notes++ == 0 ? ReadyNote : NextNote;
  };
  link.send = [&stream](std::span<const std::uint8_t> message) {
    stream.insert(stream.end(), message.begin(), message.end());
    return true;
  };
  return DriveTransfer(driver, std::move(first), link).kind ==
                 TransferDriver::Action::Kind::Completed
             ? stream
             : std::vector<std::uint8_t>{};
}

}  // namespace movrin
