#pragma once

// What --info prints about an image.

#include <cstdint>
#include <span>
#include <string>

namespace movrin {

struct ImageSummary {
  std::uint64_t imageLength = 0;
  std::uint64_t packedLength = 0;
  std::int64_t blockCount = 0;
  std::int32_t lastBlockLength = 0;
  std::uint32_t crc32 = 0;
};

[[nodiscard]] ImageSummary SummarizeImage(std::span<const std::uint8_t> image);

// Several "key: value" lines, each ending in a newline.
[[nodiscard]] std::string FormatImageSummary(const ImageSummary& summary, const std::string& name);

}  // namespace movrin
