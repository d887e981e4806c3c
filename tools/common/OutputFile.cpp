#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace movrin {
namespace {

namespace fs = std::filesystem;

// A descriptor of our own, closed once; Close reports what close(2) said.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  bool Close() {
    const int rc = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

// The hidden name beside the target that mkostemp fills in. Appended piece by piece: at -O3,
// GCC 12 takes `"." + std::string` for an overlapping memcpy and warns with -Wrestrict (a false
// positive, GCC bug 105329).
std::string TempPattern(const fs::path& target) {
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  return ((target.has_parent_path() ? target.parent_path() : fs::path(".")) / name).string();
}

// The temporary beside the target, removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const fs::path& target)
      : path_(TempPattern(target)),
        fd_(::mkostemp(path_.data(), O_CLOEXEC)),
        created_(fd_.get() >= 0) {}
  ~TempFile() {
    fd_.Close();
    if (created_ && !kept_) {
      ::unlink(path_.c_str());
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  [[nodiscard]] Descriptor& fd() { return fd_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;  // the pattern until mkostemp fills it in
  Descriptor fd_;
  bool created_;
  bool kept_ = false;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsInput(const struct stat& out, const std::string& input) {
  struct stat in {};
  return !input.empty() && ::stat(input.c_str(), &in) == 0 && SameFile(out, in);
}

// 0 when all went out, else the errno. A write that takes nothing counts as a failure.
int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return n < 0 ? errno : EIO;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Into an open device, pipe or standard output as it is: nothing there is ever replaced.
std::string WriteInto(int fd, std::span<const std::uint8_t> bytes, const std::string& input) {
  struct stat st {};
  if (::isatty(fd) == 1) {
    return "it is a terminal; redirect it to a file or a pipe";
  }
  if (::fstat(fd, &st) == 0 && IsInput(st, input)) {
    return "it is the input file itself";
  }
  const int err = WriteAll(fd, bytes);
  return err == 0 ? std::string() : std::strerror(err);
}

// The file a chain of links ends at, so that the file is replaced and never the link itself
// (/dev/stdout is one).
fs::path Resolved(fs::path path) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) {
      break;
    }
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

std::string Replace(const fs::path& path, std::span<const std::uint8_t> bytes) {
  TempFile temp(path);
  if (temp.fd().get() < 0) {
    return std::strerror(errno);
  }
  if (const int err = WriteAll(temp.fd().get(), bytes); err != 0) {
    return std::strerror(err);
  }
  // mkstemp creates the file 0600; give it the mode an ordinary new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(temp.fd().get(), 0666 & ~mask) != 0 || ::fsync(temp.fd().get()) != 0 ||
      !temp.fd().Close() || ::rename(temp.path().c_str(), path.c_str()) != 0) {
    return std::strerror(errno);
  }
  temp.Keep();
  return {};
}

std::string Write(const std::string& name, std::span<const std::uint8_t> bytes,
                  const std::string& input) {
  if (name == "-") {
    return WriteInto(STDOUT_FILENO, bytes, input);
  }
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    // A new name, or a dangling link: the file it names is made, the link stays.
    return errno == ENOENT ? Replace(Resolved(name), bytes) : std::strerror(errno);
  }
  if (IsInput(st, input)) {
    return "it is the input file itself";
  }
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
    Descriptor fd(::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
      return std::strerror(errno);
    }
    std::string error = WriteInto(fd.get(), bytes, input);
    if (!fd.Close() && error.empty()) {
      error = std::strerror(errno);
    }
    return error;
  }
  if (S_ISDIR(st.st_mode)) {
    return std::strerror(EISDIR);
  }
  if (!S_ISREG(st.st_mode)) {
    return "it is not a regular file, a character device or a pipe";
  }
  return Replace(Resolved(name), bytes);
}

}  // namespace

WriteFileResult WriteOutputFile(const std::string& name, std::span<const std::uint8_t> bytes,
                                const std::string& input) {
  const std::string error = Write(name, bytes, input);
  if (error.empty()) {
    return {true, {}};
  }
  const std::string what = name == "-" ? "to standard output" : "\"" + name + "\"";
  return {false, "cannot write " + what + ": " + error};
}

bool IsStandardOutput(const std::string& name) {
  if (name == "-") {
    return true;
  }
  struct stat out {};
  struct stat st {};
  return !name.empty() && ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(name.c_str(), &st) == 0 &&
         SameFile(out, st) && (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode));
}

bool StandardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace movrin
