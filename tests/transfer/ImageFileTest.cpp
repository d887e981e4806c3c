#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageFileReader.h"

namespace movrin {
namespace {

namespace fs = std::filesystem;

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "movrin-image-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path dir_;
};

using ImageFile = TempFolder;
using ImageListingTest = TempFolder;

TEST_F(ImageFile, ReadsTheWholeFile) {
  std::vector<std::uint8_t> bytes(100000);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  }
  const ImageFileResult result = ReadImageFile(Write("a.bin", bytes), 1 << 20);
  ASSERT_TRUE(result.ok()) << Describe(result.error);
  EXPECT_EQ(result.bytes, bytes);
  const ImageFileResult empty = ReadImageFile(Write("empty.bin", {}), 1 << 20);
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.bytes.empty());
}

TEST_F(ImageFile, RefusesWhatCannotBeReadWhole) {
  fs::create_directory(dir_ / "folder.bin");
  fs::create_symlink(dir_ / "gone.bin", dir_ / "dangling.bin");
  Write("big.bin", std::vector<std::uint8_t>(2048, 1));
  const struct {
    const char* name;
    FileError error;
  } rows[] = {{"missing.bin", FileError::NotFound},
              {"dangling.bin", FileError::NotFound},
              {"folder.bin", FileError::NotAFile},
              {"big.bin", FileError::TooLarge}};
  for (const auto& row : rows) {
    const ImageFileResult result = ReadImageFile(dir_ / row.name, 1024);
    EXPECT_EQ(result.error, row.error) << row.name;
    EXPECT_TRUE(result.bytes.empty()) << row.name;
  }
  // A special file that is not a regular file (and would block on read).
  ::mkfifo((dir_ / "pipe.bin").c_str(), 0600);
  EXPECT_EQ(ReadImageFile(dir_ / "pipe.bin", 1024).error, FileError::NotAFile);
}

TEST_F(ImageFile, RefusesAnUnreadableFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind root";
  }
  const fs::path path = Write("locked.bin", {1, 2, 3});
  fs::permissions(path, fs::perms::none);
  const ImageFileResult result = ReadImageFile(path, 1024);
  EXPECT_EQ(result.error, FileError::CannotOpen);
  EXPECT_EQ(result.errnum, EACCES);
}

TEST_F(ImageListingTest, MatchesBinInAnyCase) {
  for (const char* name : {"a.bin", "B.BIN", "c.Bin", "d.bin.txt", "ebin", "f.bi", ".bin"}) {
    Write(name, {1});
  }
  ImageListing listing = ListImageFiles(dir_);
  std::sort(listing.names.begin(), listing.names.end());
  EXPECT_EQ(listing.names, (std::vector<std::string>{".bin", "B.BIN", "a.bin", "c.Bin"}));
  EXPECT_EQ(listing.matching, 4u);
  EXPECT_FALSE(listing.tooMany(MAX_IMAGE_FILES));
}

TEST_F(ImageListingTest, RefusesAFolderOfThreeHundred) {
  for (int i = 0; i < 299; ++i) {
    Write("img" + std::to_string(i) + ".bin", {1});
  }
  ImageListing listing = ListImageFiles(dir_);
  EXPECT_EQ(listing.names.size(), 299u);
  EXPECT_FALSE(listing.tooMany(MAX_IMAGE_FILES));

  Write("img299.bin", {1});
  listing = ListImageFiles(dir_);
  EXPECT_TRUE(listing.tooMany(MAX_IMAGE_FILES));
  EXPECT_LE(listing.names.size(), 299u) << "never more names than slots";
}

TEST_F(ImageListingTest, AMissingFolderListsNothing) {
  const ImageListing listing = ListImageFiles(dir_ / "nope");
  EXPECT_TRUE(listing.names.empty());
  EXPECT_EQ(listing.matching, 0u);
}

}  // namespace
}  // namespace movrin
