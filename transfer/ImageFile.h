#pragma once

// What loading an image file can end in (the checks are in ImageLoad.h, the system's file calls
// in the platform layer's ImageFileReader.h), and listing the images of the data folder.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace movrin {

enum class FileError {
  None,
  NotFound,    // no such file, or a dangling link
  NotAFile,    // a directory or another non-regular file
  CannotOpen,  // permission or other open failure
  ReadFailed,  // an error or a short read while reading
  TooLarge,    // larger than the caller's limit; nothing was read
  Empty,       // nothing to send (LoadImage only)
};

struct ImageFileResult {
  std::vector<std::uint8_t> bytes;
  FileError error = FileError::None;
  std::uint64_t length = 0;  // the file's length as the system gave it
  int errnum = 0;            // the system's error number, when it gave one

  [[nodiscard]] bool ok() const { return error == FileError::None; }
};

[[nodiscard]] std::string Describe(FileError error);
// Describe, followed by the system's reason in parentheses when there is one.
[[nodiscard]] std::string DescribeWithReason(const ImageFileResult& result);

// The images a folder offers: entries whose names end in ".bin" in any case.
struct ImageListing {
  std::vector<std::string> names;  // in directory order, at most limit - 1
  std::size_t matching = 0;        // how many entries matched in all
  [[nodiscard]] bool tooMany(std::size_t limit) const { return matching >= limit; }
};

inline constexpr std::size_t MAX_IMAGE_FILES = 300;

// A folder that does not exist lists nothing. Stops collecting names at limit - 1.
[[nodiscard]] ImageListing ListImageFiles(const std::filesystem::path& folder,
                                          std::size_t limit = MAX_IMAGE_FILES);

[[nodiscard]] bool HasImageExtension(const std::string& name);

}  // namespace movrin
