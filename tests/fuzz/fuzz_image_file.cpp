// The loader on arbitrary file contents and sizes: what it reads is the file, whole, or it is
// refused; the size check agrees with the plan it guards.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BlockPlan.h"
#include "ImageCheck.h"
#include "ImageFileReader.h"
#include "Packing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A file in memory, reached through its /proc path like any other file.
  static const int fd = ::memfd_create("movrin-fuzz.bin", 0);
  static const std::filesystem::path path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ::ftruncate(fd, 0) != 0 ||
      ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  // A limit taken from the data exercises both sides of it.
  const std::uint64_t limit = size > 0 ? data[0] * 64u : 0;
  const movrin::ImageFileResult result = movrin::ReadImageFile(path, limit);
  if (size > limit) {
    if (result.error != movrin::FileError::TooLarge || !result.bytes.empty()) {
      std::abort();
    }
  } else if (!result.ok() || result.bytes.size() != size ||
             !std::equal(result.bytes.begin(), result.bytes.end(), data)) {
    std::abort();
  }
  const auto check = movrin::CheckImageLength(size);
  if ((check == movrin::ImageCheck::Ok) != (size > 0)) {
    std::abort();
  }
  if (check == movrin::ImageCheck::Ok &&
      movrin::MakeBlockPlan(static_cast<std::int64_t>(movrin::PackedLength(size))).blockCount >
          movrin::kMaxBlockCount) {
    std::abort();
  }
  return 0;
}
