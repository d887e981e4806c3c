#include "OutputFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace movrin {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whole or nothing: a failed write leaves what was there and no temporary beside it. The
// movrin-send cases in CommandLineTest run through the same writer.
TEST(OutputFile, ReplacesWholeOrLeavesWhatWasThere) {
  std::string pattern = (fs::temp_directory_path() / "movrin-output-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  fs::create_directory(dir / "folder");
  std::ofstream(dir / "folder" / "inside") << "keep";
  std::ofstream(dir / "expected.bin") << "keep";
  fs::create_symlink("made.bin", dir / "link");
  const std::vector<std::uint8_t> bytes = {'n', 'e', 'w', 0x00, 0xFF};
  struct Row {
    fs::path target;
    std::string says;  // empty: written
  };
  const std::vector<Row> rows = {
      {dir / "folder", "Is a directory"},
      {dir / "missing" / "x.bin", "No such file"},
      {dir / "folder" / "inside" / "x", "Not a directory"},
      {dir / "expected.bin", "input file itself"},
      {dir / "folder" / "inside", ""},
      {dir / "link", ""},  // a dangling link: the file it names is made
  };
  for (const Row& row : rows) {
    const WriteFileResult result = WriteOutputFile(row.target, bytes, dir / "expected.bin");
    EXPECT_EQ(result.ok, row.says.empty()) << row.target;
    EXPECT_NE(result.error.find(row.says), std::string::npos) << result.error;
  }
  EXPECT_EQ(Read(dir / "folder" / "inside"), std::string("new\0\xFF", 5));
  EXPECT_EQ(Read(dir / "made.bin"), std::string("new\0\xFF", 5));
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(Read(dir / "expected.bin"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 4);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "folder"), {}), 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace movrin
