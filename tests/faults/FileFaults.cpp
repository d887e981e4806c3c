#include "FileFaults.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace movrin::test {
namespace {

constexpr unsigned kFileOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// The calling thread's capabilities, set again after `change` when it returns true.
template <typename Change>
bool ChangeCapabilities(Change change) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  return ::syscall(SYS_capget, &header, data) == 0 &&
         (!change(data[0]) || ::syscall(SYS_capset, &header, data) == 0);
}

}  // namespace

FilePermissionsBind::FilePermissionsBind() {
  if (!ChangeCapabilities([this](__user_cap_data_struct& caps) {
        dropped_ = (caps.effective & kFileOverrides) != 0;
        caps.effective &= ~kFileOverrides;
        return dropped_;
      })) {
    dropped_ = false;
    failure_ = "cannot drop CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH";
  }
}

FilePermissionsBind::~FilePermissionsBind() {
  if (dropped_) {
    ChangeCapabilities([](__user_cap_data_struct& caps) {
      caps.effective |= kFileOverrides & caps.permitted;
      return true;
    });
  }
}

bool Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  return fd >= 0 && ::close(fd) == 0;
}

}  // namespace movrin::test
