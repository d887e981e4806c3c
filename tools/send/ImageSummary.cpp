#include "ImageSummary.h"

#include "BlockPlan.h"
#include "Crc32.h"
#include "Hex32.h"
#include "Packing.h"

namespace movrin {

ImageSummary SummarizeImage(std::span<const std::uint8_t> image) {
  ImageSummary summary;
  summary.imageLength = image.size();
  summary.packedLength = PackedLength(image.size());
  const BlockPlan plan = MakeBlockPlan(static_cast<std::int64_t>(summary.packedLength));
  summary.blockCount = plan.blockCount;
  summary.lastBlockLength = plan.LastBlockLength();
  summary.crc32 = Crc32(image);
  return summary;
}

std::string FormatImageSummary(const ImageSummary& s, const std::string& name) {
  return "image:             " + name + "\n" +
         "size:              " + std::to_string(s.imageLength) + " bytes\n" +
         "packed length:     " + std::to_string(s.packedLength) + " bytes\n" +
         "blocks:            " + std::to_string(s.blockCount) + "\n" +
         "last block length: " + std::to_string(s.lastBlockLength) + " bytes\n" +
         "CRC-32:            " + Hex32(s.crc32) + "\n";
}

}  // namespace movrin
