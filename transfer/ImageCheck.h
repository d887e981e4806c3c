#pragma once

// The one check every sender makes before anything goes on the wire. An empty image would
// announce 0 blocks and leave the device waiting; one of more than 65535 blocks would be
// announced modulo 65536 and corrupt the device.

#include <cstdint>
#include <string>
#include <string_view>

#include "Packing.h"
#include "Protocol.h"

namespace movrin {

// Largest image whose packed form fits in kMaxBlockCount blocks.
inline constexpr std::uint64_t kMaxImageLength =
    static_cast<std::uint64_t>(kMaxBlockCount) * UPDATE_BLOCK_SIZE / 8 * 7;
static_assert(PackedLength(kMaxImageLength) <= std::uint64_t{kMaxBlockCount} * UPDATE_BLOCK_SIZE);
static_assert(PackedLength(kMaxImageLength + 1) >
              std::uint64_t{kMaxBlockCount} * UPDATE_BLOCK_SIZE);

enum class ImageCheck { Ok, Empty, TooLarge };

[[nodiscard]] constexpr ImageCheck CheckImageLength(std::uint64_t length) {
  if (length == 0) {
    return ImageCheck::Empty;
  }
  return length > kMaxImageLength ? ImageCheck::TooLarge : ImageCheck::Ok;
}

// One sentence for the user that names the file and the limit; empty for ImageCheck::Ok.
[[nodiscard]] std::string ImageCheckMessage(ImageCheck check, std::string_view fileName,
                                            std::uint64_t length);

}  // namespace movrin
