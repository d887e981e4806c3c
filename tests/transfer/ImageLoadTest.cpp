// The checks of loading an image on a scripted source: every refusal, in its order, with the
// facts each program's message is made of.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "ImageLoad.h"

namespace movrin {
namespace {

// Opens as told, then yields its chunks one per read; an empty chunk is the end, -1 an error.
class ScriptedSource : public ImageSource {
 public:
  ScriptedSource(Opened opened, std::deque<std::vector<std::uint8_t>> chunks, int readError = 0)
      : opened_(opened), chunks_(std::move(chunks)), readError_(readError) {}
  Opened Open() override { return opened_; }
  std::int64_t Read(std::span<std::uint8_t> into, int& errnum) override {
    ++reads;
    if (chunks_.empty()) {
      errnum = readError_;
      return readError_ != 0 ? -1 : 0;
    }
    std::vector<std::uint8_t> chunk = std::move(chunks_.front());
    chunks_.pop_front();
    const std::size_t n = std::min(chunk.size(), into.size());
    std::copy_n(chunk.begin(), n, into.begin());
    return static_cast<std::int64_t>(n);
  }
  int reads = 0;

 private:
  Opened opened_;
  std::deque<std::vector<std::uint8_t>> chunks_;
  int readError_;
};

using Bytes = std::vector<std::uint8_t>;

TEST(ImageLoad, ReadsTheWholeFileInAnyChunks) {
  ScriptedSource source({FileError::None, 0, 5}, {{1, 2}, {3}, {4, 5}});
  const ImageFileResult result = LoadImage(source);
  ASSERT_TRUE(result.ok()) << Describe(result.error);
  EXPECT_EQ(result.bytes, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(source.reads, 4) << "three chunks and the read that finds the end";
}

TEST(ImageLoad, EveryRefusalCarriesItsFacts) {
  const std::uint64_t tooLong = kMaxImageLength + 1;
  const struct Row {
    const char* what;
    ScriptedSource::Opened opened;
    std::deque<Bytes> chunks;
    int readError;
    FileError error;
    int errnum;
    std::uint64_t length;
  } rows[] = {
      {"missing", {FileError::NotFound, ENOENT, 0}, {}, 0, FileError::NotFound, ENOENT, 0},
      {"directory", {FileError::NotAFile, EISDIR, 0}, {}, 0, FileError::NotAFile, EISDIR, 0},
      {"locked", {FileError::CannotOpen, EACCES, 0}, {}, 0, FileError::CannotOpen, EACCES, 0},
      {"too large", {FileError::None, 0, tooLong}, {}, 0, FileError::TooLarge, 0, tooLong},
      {"read error", {FileError::None, 0, 4}, {{1}}, EIO, FileError::ReadFailed, EIO, 4},
      {"fewer bytes than its size",
       {FileError::None, 0, 4},
       {{1, 2}},
       0,
       FileError::ReadFailed,
       0,
       4},
      {"grew while read", {FileError::None, 0, 2}, {{1, 2}, {3}}, 0, FileError::ReadFailed, 0, 2},
      {"empty", {FileError::None, 0, 0}, {}, 0, FileError::Empty, 0, 0},
  };
  for (const Row& row : rows) {
    ScriptedSource source(row.opened, row.chunks, row.readError);
    const ImageFileResult result = LoadImage(source);
    EXPECT_EQ(result.error, row.error) << row.what;
    EXPECT_EQ(result.errnum, row.errnum) << row.what;
    EXPECT_EQ(result.length, row.length) << row.what;
    EXPECT_TRUE(result.bytes.empty()) << row.what << ": no partial image is handed on";
    if (row.error == FileError::TooLarge) {
      EXPECT_EQ(source.reads, 0) << "refused before any read";
    }
  }
}

TEST(ImageLoad, MessagesNameTheFileAndItsLength) {
  ScriptedSource large({FileError::None, 0, kMaxImageLength + 7}, {});
  EXPECT_EQ(ImageLengthMessage(LoadImage(large), "big.bin"),
            ImageCheckMessage(ImageCheck::TooLarge, "big.bin", kMaxImageLength + 7));
  ScriptedSource empty({FileError::None, 0, 0}, {});
  EXPECT_EQ(ImageLengthMessage(LoadImage(empty), "e.bin"),
            ImageCheckMessage(ImageCheck::Empty, "e.bin", 0));
  ScriptedSource failing({FileError::None, 0, 3}, {}, EIO);
  const ImageFileResult failed = LoadImage(failing);
  EXPECT_EQ(ImageLengthMessage(failed, "x.bin"), "");
  EXPECT_EQ(DescribeWithReason(failed),
            Describe(FileError::ReadFailed) + " (" + std::string(std::strerror(EIO)) + ")");
  // The device's expected image may be empty: only senders refuse that.
  ScriptedSource expected({FileError::None, 0, 0}, {});
  EXPECT_TRUE(ReadImage(expected, kMaxImageLength).ok());
}

}  // namespace
}  // namespace movrin
