#include <windows.h>

#include <thread>

#include "RunProgram.h"
#include "WinHandle.h"

namespace movrin::test {
namespace {

// One argument as CreateProcess's parser reads it back: quotes around, backslashes doubled
// only before a quote.
std::string Quoted(const std::string& arg) {
  std::string out = "\"";
  std::size_t slashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, '\\');
  out += '"';
  return out;
}

// A bare name is a program built beside the running test.
std::string Resolved(const std::string& path) {
  if (path.find_first_of("\\/:") != std::string::npos) {
    return path;
  }
  char self[MAX_PATH] = {};
  const std::string module(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH));
  return module.substr(0, module.find_last_of('\\') + 1) + path;
}

// Everything the program writes, read on a thread of its own so that neither pipe fills up.
std::thread Collect(WinHandle& pipe, std::string& into) {
  return std::thread([&pipe, &into] {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(pipe.get(), buffer, sizeof buffer, &n, nullptr) != 0 && n > 0) {
      into.append(buffer, n);
    }
  });
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const RunOptions& options) {
  ProgramResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (::CreatePipe(&outRead, &outWrite, &inherit, 0) == 0 ||
      ::CreatePipe(&errRead, &errWrite, &inherit, 0) == 0) {
    return result;
  }
  WinHandle readOut(outRead), writeOut(outWrite), readErr(errRead), writeErr(errWrite);
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  WinHandle nul(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr));

  const std::string program = Resolved(path);
  std::string line = Quoted(program);
  for (const std::string& arg : args) {
    line += ' ';  // not " " + ...: GCC 12 warns of an overlap there (GCC bug 105329)
    line += Quoted(arg);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const bool started =
      ::CreateProcessA(
          program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
          options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
          &process) != 0;
  // Only the child holds the write ends now: its exit ends the reads.
  writeOut.Close();
  writeErr.Close();
  if (!started) {
    return result;
  }
  const WinHandle processHandle(process.hProcess);
  const WinHandle threadHandle(process.hThread);
  std::thread outReader = Collect(readOut, result.out);
  std::thread errReader = Collect(readErr, result.err);
  // The watchdog: a program that hangs is ended, and counts as not having exited normally.
  const bool exited =
      ::WaitForSingleObject(process.hProcess, options.watchdogSeconds * 1000) == WAIT_OBJECT_0;
  if (!exited) {
    ::TerminateProcess(process.hProcess, 1);
  }
  outReader.join();
  errReader.join();
  DWORD code = 0;
  if (exited && ::GetExitCodeProcess(process.hProcess, &code) != 0) {
    result.exitCode = static_cast<int>(code);
  }
  return result;
}

}  // namespace movrin::test
