#include "ImageFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace movrin {

FileImageSource::FileImageSource(std::filesystem::path path) : path_(std::move(path)) {}

FileImageSource::~FileImageSource() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

ImageSource::Opened FileImageSource::Open() {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) {
      return {FileError::NotFound, err};
    }
    return {err == EISDIR ? FileError::NotAFile : FileError::CannotOpen, err};
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    return {FileError::CannotOpen, errno};
  }
  if (!S_ISREG(info.st_mode)) {
    return {FileError::NotAFile, S_ISDIR(info.st_mode) ? EISDIR : 0};
  }
  return {FileError::None, 0, static_cast<std::uint64_t>(info.st_size)};
}

std::int64_t FileImageSource::Read(std::span<std::uint8_t> into, int& errnum) {
  for (;;) {
    const ssize_t n = ::read(fd_, into.data(), into.size());
    if (n >= 0 || errno != EINTR) {
      errnum = n < 0 ? errno : 0;
      return n;
    }
  }
}

ImageFileResult ReadImageFile(const std::filesystem::path& path, std::uint64_t maxLength) {
  FileImageSource source(path);
  return ReadImage(source, maxLength);
}

ImageFileResult LoadImageFile(const std::filesystem::path& path) {
  FileImageSource source(path);
  return LoadImage(source);
}

}  // namespace movrin
