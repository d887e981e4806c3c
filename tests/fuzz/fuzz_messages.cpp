// The device side on arbitrary bytes: the message parser and the unpacker never read out of
// bounds, and whatever the unpacker accepts is exactly what packing produces.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "Packing.h"
#include "UpdateMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);

  const movrin::ParsedMessage parsed = movrin::ParseUpdateMessage(bytes);
  if (parsed.ok() && parsed.kind == movrin::MessageKind::Block) {
    if (parsed.payload.empty() || parsed.payload.size() > 1024) {
      std::abort();
    }
    for (std::uint8_t b : parsed.payload) {
      if (b & 0x80) {
        std::abort();
      }
    }
  }

  const movrin::UnpackResult unpacked = movrin::UnpackImage(bytes);
  if (unpacked.ok()) {
    const auto repacked = movrin::PackImage(unpacked.image);
    if (repacked.size() != size || !std::equal(repacked.begin(), repacked.end(), data)) {
      std::abort();
    }
  } else if (!unpacked.image.empty() || unpacked.errorOffset >= size) {
    std::abort();
  }
  return 0;
}
