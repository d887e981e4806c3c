#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace movrin {
namespace {

// The temporary file: closed, and removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const std::filesystem::path& target) {
    const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string hidden(".");
    hidden += target.filename().string();
    hidden += ".XXXXXX";
    std::string name = (dir / hidden).string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      path_ = buffer.data();
    }
  }
  ~TempFile() {
    Close();
    if (!kept_ && !path_.empty()) {
      ::unlink(path_.c_str());
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  bool Close() {
    if (fd_ < 0) {
      return true;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }
  void Keep() { kept_ = true; }

 private:
  int fd_ = -1;
  std::string path_;
  bool kept_ = false;
};

WriteFileResult Fail(int err) {
  return {false, std::strerror(err)};
}

}  // namespace

WriteFileResult WriteFileAtomically(const std::filesystem::path& path,
                                    std::span<const std::uint8_t> bytes) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    return Fail(EISDIR);
  }
  TempFile temp(path);
  if (temp.fd() < 0) {
    return Fail(errno);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(temp.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return Fail(n < 0 ? errno : EIO);
    }
    done += static_cast<std::size_t>(n);
  }
  // mkstemp creates the file 0600; give it the mode an ordinary new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(temp.fd(), 0666 & ~mask) != 0 || ::fsync(temp.fd()) != 0) {
    return Fail(errno);
  }
  if (!temp.Close()) {
    return Fail(errno);
  }
  if (::rename(temp.path().c_str(), path.c_str()) != 0) {
    return Fail(errno);
  }
  temp.Keep();
  return {true, {}};
}

}  // namespace movrin
