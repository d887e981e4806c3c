#include <gtest/gtest.h>

#include <string>

#include "BlockPlan.h"
#include "ImageCheck.h"
#include "Packing.h"

namespace movrin {
namespace {

TEST(BlockPlan, CountsBlocksRoundedUpAndSizesTheLast) {
  const struct {
    std::int64_t packed;
    std::int64_t blocks;
    std::int32_t last;
  } rows[] = {{1, 1, 1},
              {1023, 1, 1023},
              {1024, 1, 1024},
              {1025, 2, 1},
              {1026, 2, 2},
              {3072, 3, 1024},
              {5 * 1024 + 7, 6, 7},
              {0, 0, 0},
              {static_cast<std::int64_t>(kMaxBlockCount) * 1024, kMaxBlockCount, 1024}};
  for (const auto& row : rows) {
    const BlockPlan plan = MakeBlockPlan(row.packed);
    EXPECT_EQ(plan.blockCount, row.blocks) << row.packed;
    EXPECT_EQ(plan.LastBlockLength(), row.last) << row.packed;
    std::int64_t total = 0;
    for (std::int64_t i = 0; i < plan.blockCount; ++i) {
      total += plan.BlockLength(i);
      if (i + 1 < plan.blockCount) {
        EXPECT_EQ(plan.BlockLength(i), 1024);
      }
    }
    EXPECT_EQ(total, row.packed) << "blocks must cover the packed image exactly";
  }
}

TEST(ImageCheck, RefusesEmptyAndOversizedImages) {
  EXPECT_EQ(CheckImageLength(0), ImageCheck::Empty);
  EXPECT_EQ(CheckImageLength(1), ImageCheck::Ok);
  EXPECT_EQ(CheckImageLength(kMaxImageLength), ImageCheck::Ok);
  EXPECT_EQ(CheckImageLength(kMaxImageLength + 1), ImageCheck::TooLarge);
  // The limit is where the announced count would wrap.
  EXPECT_EQ(MakeBlockPlan(PackedLength(kMaxImageLength)).blockCount, kMaxBlockCount);
  EXPECT_GT(MakeBlockPlan(PackedLength(kMaxImageLength + 1)).blockCount, kMaxBlockCount);
}

TEST(ImageCheck, MessagesNameTheFileAndTheLimit) {
  EXPECT_EQ(ImageCheckMessage(ImageCheck::Ok, "a.bin", 10), "");
  const std::string empty = ImageCheckMessage(ImageCheck::Empty, "blank.bin", 0);
  EXPECT_NE(empty.find("blank.bin"), std::string::npos);
  EXPECT_NE(empty.find("empty"), std::string::npos);
  const std::string large = ImageCheckMessage(ImageCheck::TooLarge, "huge.bin", 70000000);
  EXPECT_NE(large.find("huge.bin"), std::string::npos);
  EXPECT_NE(large.find("70000000"), std::string::npos);
  EXPECT_NE(large.find(std::to_string(kMaxImageLength)), std::string::npos);
}

}  // namespace
}  // namespace movrin
