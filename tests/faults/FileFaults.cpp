#include "FileFaults.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

namespace movrin::test {
namespace {

constexpr const char* kSetpriv = "/usr/bin/setpriv";

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

Command WithPermissionsBinding(const std::string& path, std::vector<std::string> args,
                               std::string& failure) {
  if (::geteuid() != 0) {
    return {path, std::move(args)};
  }
  if (::access(kSetpriv, X_OK) != 0) {
    failure = "running as root and setpriv (util-linux) is missing, so permissions do not bind";
    return {};
  }
  // Dropped from the bounding set, the two capabilities are not regained when root execs.
  const std::string probe =
      std::string(kSetpriv) + " --bounding-set=-dac_override,-dac_read_search true >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0) {
    failure = "running as root without CAP_SETPCAP: setpriv cannot make permissions bind";
    return {};
  }
  std::vector<std::string> wrapped{"--bounding-set=-dac_override,-dac_read_search", path};
  wrapped.insert(wrapped.end(), args.begin(), args.end());
  return {kSetpriv, std::move(wrapped)};
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
