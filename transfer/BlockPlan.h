#pragma once

// How a packed image is cut into block messages: full blocks, the last one carrying the
// remainder (or a full block when the remainder is 0).

#include <cstdint>

#include "Protocol.h"

namespace movrin {

struct BlockPlan {
  std::int64_t packedLength = 0;
  std::int32_t blockSize = UPDATE_BLOCK_SIZE;
  std::int64_t blockCount = 0;
  std::int32_t remainder = 0;

  // Payload length of block `index`, which must be below blockCount.
  [[nodiscard]] std::int32_t BlockLength(std::int64_t index) const {
    return index == blockCount - 1 && remainder != 0 ? remainder : blockSize;
  }
  [[nodiscard]] std::int32_t LastBlockLength() const {
    return blockCount == 0 ? 0 : BlockLength(blockCount - 1);
  }
};

[[nodiscard]] constexpr BlockPlan MakeBlockPlan(std::int64_t packedLength,
                                                std::int32_t blockSize = UPDATE_BLOCK_SIZE) {
  BlockPlan plan;
  plan.packedLength = packedLength;
  plan.blockSize = blockSize;
  plan.blockCount = packedLength / blockSize;
  plan.remainder = static_cast<std::int32_t>(packedLength % blockSize);
  if (plan.remainder != 0) {
    ++plan.blockCount;
  }
  return plan;
}

}  // namespace movrin
