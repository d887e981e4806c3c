#include "RunProgram.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace movrin::test {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  ::unlink(path.c_str());
  return text;
}

// In the child, before exec. Dropped from the bounding set, the two capabilities that let
// root ignore file permissions are not regained by exec.
void Prepare(const RunOptions& options, int outFd, int errFd) {
  if (options.terminalOut) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    outFd = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
                ? ::open(::ptsname(master), O_RDWR | O_NOCTTY)
                : -1;
  }
  const bool ok =
      ::dup2(outFd, STDOUT_FILENO) >= 0 && ::dup2(errFd, STDERR_FILENO) >= 0 &&
      (options.workingDirectory.empty() || ::chdir(options.workingDirectory.c_str()) == 0) &&
      (!options.permissionsBind || ::geteuid() != 0 ||
       (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) == 0 &&
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) == 0));
  if (!ok) {
    ::_exit(126);
  }
  ::alarm(options.watchdogSeconds);  // survives exec: a hung program dies of SIGALRM
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const RunOptions& options) {
  char outName[] = "/tmp/movrin-run-out-XXXXXX";
  char errName[] = "/tmp/movrin-run-err-XXXXXX";
  const int outFd = ::mkstemp(outName);
  const int errFd = ::mkstemp(errName);
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const auto& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    Prepare(options, outFd, errFd);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outFd);
  ::close(errFd);
  ProgramResult result;
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (pid > 0 && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.out = Slurp(outName);
  result.err = Slurp(errName);
  return result;
}

}  // namespace movrin::test
