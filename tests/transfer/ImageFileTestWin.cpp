// Image files through the C runtime on Windows: read whole, or refused with the reason.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImageFileReader.h"

namespace movrin {
namespace {

namespace fs = std::filesystem;

TEST(ImageFileWin, ReadsWholeFilesAndRefusesTheRest) {
  const fs::path dir =
      fs::temp_directory_path() / ("movrin-image-" + std::to_string(::GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir / "folder.bin");
  // 0x0A and 0x1A: a text-mode read would change the first and stop at the second.
  std::vector<std::uint8_t> bytes(100000);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i % 3 == 0 ? 0x0A : i % 3 == 1 ? 0x1A : i ^ (i >> 8));
  }
  std::ofstream(dir / "a.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const ImageFileResult whole = ReadImageFile(dir / "a.bin", 1 << 20);
  ASSERT_TRUE(whole.ok()) << Describe(whole.error);
  EXPECT_EQ(whole.bytes, bytes);

  const struct {
    fs::path path;
    FileError error;
  } rows[] = {{dir / "missing.bin", FileError::NotFound},
              {dir / "folder.bin", FileError::NotAFile},
              {dir / "a.bin", FileError::TooLarge},
              {"NUL", FileError::NotAFile}};  // a device, which reads as empty forever
  for (const auto& row : rows) {
    const ImageFileResult result = ReadImageFile(row.path, 1024);
    EXPECT_EQ(result.error, row.error) << row.path;
    EXPECT_TRUE(result.bytes.empty()) << row.path;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace movrin
