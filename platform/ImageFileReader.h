#pragma once

// Image files through the system's file calls. Only a regular file is read, and it is opened so
// that a FIFO or device swapped in under its name cannot block; what is refused and when is
// ImageLoad's.

#include <cstdint>
#include <filesystem>

#include "ImageLoad.h"

namespace movrin {

class FileImageSource : public ImageSource {
 public:
  explicit FileImageSource(std::filesystem::path path);
  ~FileImageSource() override;
  FileImageSource(const FileImageSource&) = delete;
  FileImageSource& operator=(const FileImageSource&) = delete;

  [[nodiscard]] Opened Open() override;
  [[nodiscard]] std::int64_t Read(std::span<std::uint8_t> into, int& errnum) override;

 private:
  std::filesystem::path path_;
  int fd_ = -1;  // owned
};

// ReadImage over the file: files longer than maxLength are refused before any read.
[[nodiscard]] ImageFileResult ReadImageFile(const std::filesystem::path& path,
                                            std::uint64_t maxLength);

// LoadImage over the file: what the window and the senders send.
[[nodiscard]] ImageFileResult LoadImageFile(const std::filesystem::path& path);

}  // namespace movrin
