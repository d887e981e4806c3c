#pragma once

// Reading an image file whole with the system's file calls. Only a regular file is read, it is
// opened so that a FIFO or device swapped in under its name cannot block, and a file that reads
// short or grows while being read is refused: a partly read image must never reach a device.

#include <cstdint>
#include <filesystem>

#include "ImageFile.h"

namespace movrin {

// Files longer than maxLength are refused before any read.
[[nodiscard]] ImageFileResult ReadImageFile(const std::filesystem::path& path,
                                            std::uint64_t maxLength);

}  // namespace movrin
