#pragma once

// Making file permissions bind even for root (tests run as root in CI), for the window's
// unreadable-file cases; movrin-send's run through RunProgram's permissionsBind.

#include <string>

namespace movrin::test {

// While alive, the calling thread has no CAP_DAC_OVERRIDE or CAP_DAC_READ_SEARCH, so a file
// without read permission cannot be opened. Capabilities are per thread and the destructor
// gives them back, so nothing else in the process is affected.
class FilePermissionsBind {
 public:
  FilePermissionsBind();
  ~FilePermissionsBind();
  FilePermissionsBind(const FilePermissionsBind&) = delete;
  FilePermissionsBind& operator=(const FilePermissionsBind&) = delete;

  // Empty once permissions bind; otherwise why they cannot be made to (for GTEST_SKIP).
  [[nodiscard]] const std::string& failure() const { return failure_; }

 private:
  bool dropped_ = false;
  std::string failure_;
};

// Whether `path` can be opened for reading by the calling thread right now.
[[nodiscard]] bool Readable(const std::string& path);

}  // namespace movrin::test
