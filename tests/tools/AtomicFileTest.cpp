#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AtomicFile.h"

namespace movrin {
namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "movrin-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::size_t Entries() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  fs::path dir_;
};

TEST_F(AtomicFile, ReplacesAWholeFileAndLeavesNoTemporary) {
  const fs::path target = dir_ / "image.bin";
  std::ofstream(target) << "old contents that are longer";
  const std::vector<std::uint8_t> bytes = {'n', 'e', 'w', 0x00, 0xFF};
  const WriteFileResult result = WriteFileAtomically(target, bytes);
  ASSERT_TRUE(result.ok) << result.detail;
  EXPECT_EQ(Read(target), std::string("new\0\xFF", 5));
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFile, AFailedWriteKeepsWhatWasThere) {
  fs::create_directory(dir_ / "folder");
  std::ofstream(dir_ / "folder" / "inside") << "keep";
  const std::vector<std::uint8_t> bytes(100, 1);
  const struct {
    fs::path target;
  } rows[] = {{dir_ / "folder"}, {dir_ / "missing" / "x.bin"}, {dir_ / "folder" / "inside" / "x"}};
  for (const auto& row : rows) {
    const WriteFileResult result = WriteFileAtomically(row.target, bytes);
    EXPECT_FALSE(result.ok) << row.target;
    EXPECT_FALSE(result.detail.empty()) << row.target;
  }
  EXPECT_EQ(Read(dir_ / "folder" / "inside"), "keep");
  EXPECT_EQ(Entries(), 1u);
  EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_ / "folder"), {})),
            1u);
}

}  // namespace
}  // namespace movrin
