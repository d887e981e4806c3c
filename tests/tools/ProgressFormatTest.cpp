#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgressReporter.h"

namespace movrin {
namespace {

using std::chrono::milliseconds;

TEST(ProgressFormat, ShowsBlocksPercentRateAndTimeLeft) {
  struct Row {
    ProgressSnapshot snapshot;
    std::string expected;
  };
  const std::vector<Row> rows = {
      // Nothing sent yet: no rate to speak of, and no division by zero.
      {{0, 74, 0, 76000, milliseconds(0)}, "0/74 blocks 0%"},
      {{0, 74, 0, 76000, milliseconds(500)}, "0/74 blocks 0%"},
      // Percent truncates, as a bar that only fills when a block is really done.
      {{1, 3, 1038, 3114, milliseconds(1000)}, "1/3 blocks 33%  1.0 KiB/s  0:02 left"},
      {{73, 74, 75774, 75813, milliseconds(1000)}, "73/74 blocks 98%  74.0 KiB/s  0:00 left"},
      {{10, 1171, 10380, 1215498, milliseconds(1000)}, "10/1171 blocks 0%  10.1 KiB/s  1:56 left"},
      {{1, 2000, 500, 2'000'000, milliseconds(1000)}, "1/2000 blocks 0%  500 B/s  1:06:39 left"},
      {{1000, 1000, 3 * 1024 * 1024, 3 * 1024 * 1024, milliseconds(1000)},
       "1000/1000 blocks 100%  3.0 MiB/s  0:00 left"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatProgress(row.snapshot), row.expected);
  }
}

}  // namespace
}  // namespace movrin
