#include "FileFaults.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace movrin::test {
namespace {

struct Capabilities {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Get(Capabilities& caps) {
  return ::syscall(SYS_capget, &caps.header, caps.data) == 0;
}

bool Set(Capabilities& caps) {
  return ::syscall(SYS_capset, &caps.header, caps.data) == 0;
}

constexpr unsigned kFileOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

}  // namespace

FilePermissionsBind::FilePermissionsBind() {
  Capabilities caps;
  if (!Get(caps)) {
    failure_ = "cannot read this thread's capabilities";
    return;
  }
  if ((caps.data[0].effective & kFileOverrides) != 0) {
    caps.data[0].effective &= ~kFileOverrides;
    if (!Set(caps)) {
      failure_ = "cannot drop CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH";
      return;
    }
    dropped_ = true;
  }
}

FilePermissionsBind::~FilePermissionsBind() {
  if (!dropped_) {
    return;
  }
  Capabilities caps;
  if (Get(caps)) {
    caps.data[0].effective |= kFileOverrides & caps.data[0].permitted;
    [[maybe_unused]] const bool restored = Set(caps);
  }
}

bool Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  ::close(fd);
  return true;
}

}  // namespace movrin::test
