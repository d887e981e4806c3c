#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

#include "ImageFileReader.h"

namespace movrin {

FileImageSource::FileImageSource(std::filesystem::path path) : path_(std::move(path)) {}

FileImageSource::~FileImageSource() {
  if (fd_ >= 0) {
    ::_close(fd_);
  }
}

// The C runtime's descriptors keep the reading loop the same as on Linux; a console or the
// NUL device opens as a character device and is refused before any read.
ImageSource::Opened FileImageSource::Open() {
  fd_ = ::_wopen(path_.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd_ < 0) {
    const int err = errno;
    std::error_code ec;
    // Windows says "access denied" for a folder.
    if (std::filesystem::is_directory(path_, ec)) {
      return {FileError::NotAFile, EISDIR};
    }
    return {err == ENOENT ? FileError::NotFound : FileError::CannotOpen, err};
  }
  struct _stat64 info {};
  if (::_fstat64(fd_, &info) != 0) {
    return {FileError::CannotOpen, errno};
  }
  if ((info.st_mode & _S_IFMT) != _S_IFREG) {
    return {FileError::NotAFile, 0};
  }
  return {FileError::None, 0, static_cast<std::uint64_t>(info.st_size)};
}

std::int64_t FileImageSource::Read(std::span<std::uint8_t> into, int& errnum) {
  const auto size = static_cast<unsigned>(std::min<std::size_t>(into.size(), INT_MAX));
  const int n = ::_read(fd_, into.data(), size);
  errnum = n < 0 ? errno : 0;
  return n;
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
