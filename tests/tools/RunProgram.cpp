#include "RunProgram.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace movrin::test {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::string& workingDirectory, unsigned watchdogSeconds) {
  char outName[] = "/tmp/movrin-run-out-XXXXXX";
  char errName[] = "/tmp/movrin-run-err-XXXXXX";
  const int outFd = ::mkstemp(outName);
  const int errFd = ::mkstemp(errName);
  ProgramResult result;
  if (outFd < 0 || errFd < 0) {
    result.err = "cannot create capture files";
    return result;
  }
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) {
    cargv.push_back(a.data());
  }
  cargv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) {
      ::_exit(126);
    }
    ::alarm(watchdogSeconds);  // survives exec: a hung program dies of SIGALRM
    ::execv(path.c_str(), cargv.data());
    ::_exit(127);
  }
  ::close(outFd);
  ::close(errFd);
  if (pid > 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result.signal = WTERMSIG(status);
    }
  }
  result.out = Slurp(outName);
  result.err = Slurp(errName);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

}  // namespace movrin::test
