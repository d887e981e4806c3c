#include "ImageFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace movrin {
namespace {

// Closes the descriptor on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

ImageFileResult Fail(FileError error, int err = 0) {
  ImageFileResult result;
  result.error = error;
  if (err != 0) {
    result.detail = std::strerror(err);
  }
  return result;
}

}  // namespace

ImageFileResult ReadImageFile(const std::filesystem::path& path, std::uint64_t maxLength) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR || err == ELOOP) {
      return Fail(FileError::NotFound, err);
    }
    return Fail(err == EISDIR ? FileError::NotAFile : FileError::CannotOpen, err);
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    return Fail(FileError::CannotOpen, errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return Fail(FileError::NotAFile, S_ISDIR(info.st_mode) ? EISDIR : 0);
  }
  const auto length = static_cast<std::uint64_t>(info.st_size);
  if (length > maxLength) {
    return Fail(FileError::TooLarge);
  }
  ImageFileResult result;
  result.bytes.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(file.get(), result.bytes.data() + done, length - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // A file truncated after its size was taken reads short: refuse it.
      return Fail(FileError::ReadFailed, n < 0 ? errno : 0);
    }
    done += static_cast<std::size_t>(n);
  }
  // A file that grew after its size was taken would be sent cut off.
  std::uint8_t extra = 0;
  if (::read(file.get(), &extra, 1) != 0) {
    return Fail(FileError::ReadFailed);
  }
  return result;
}

}  // namespace movrin
