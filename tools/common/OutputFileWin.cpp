#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "OutputFile.h"
#include "WinHandle.h"

namespace movrin {
namespace {

namespace fs = std::filesystem;

// The system's sentence for an error code, without its line end and full stop, to follow
// "cannot write ...: " as strerror's text does on Linux.
std::string ErrorText(DWORD code) {
  char buffer[512] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

std::string LastErrorText() {
  return ErrorText(::GetLastError());
}

struct FileId {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

std::optional<FileId> IdOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || ::GetFileInformationByHandle(handle, &info) == 0) {
    return std::nullopt;
  }
  return FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Opened for its attributes only: neither read nor written, and open to everyone else.
std::optional<FileId> IdOf(const fs::path& path) {
  const WinHandle handle(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.valid() ? IdOf(handle.get()) : std::nullopt;
}

bool IsInput(HANDLE out, const std::string& input) {
  if (input.empty()) {
    return false;
  }
  const auto outId = IdOf(out);
  return outId && outId == IdOf(fs::path(input));
}

// Empty when all went out. A write that takes nothing counts as a failure.
std::string WriteAll(HANDLE handle, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) == 0) {
      return LastErrorText();
    }
    if (written == 0) {
      return ErrorText(ERROR_WRITE_FAULT);
    }
    done += written;
  }
  return {};
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

// Into an open device or pipe as it is: nothing there is ever replaced.
std::string WriteInto(HANDLE handle, std::span<const std::uint8_t> bytes,
                      const std::string& input) {
  if (IsConsole(handle)) {
    return "it is a terminal; redirect it to a file or a pipe";
  }
  if (IsInput(handle, input)) {
    return "it is the input file itself";
  }
  return WriteAll(handle, bytes);
}

// The C runtime would turn every 0x0A into CR LF on a text-mode stdout; binary mode keeps the
// stream as it is for whatever the runtime writes later, and the bytes go past it anyway.
std::string WriteStandardOutput(std::span<const std::uint8_t> bytes, const std::string& input) {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  if (::_isatty(::_fileno(stdout)) != 0) {
    return "it is a terminal; redirect it to a file or a pipe";
  }
  return WriteInto(::GetStdHandle(STD_OUTPUT_HANDLE), bytes, input);
}

// A new file beside the target, under a name no other file has.
struct Temp {
  fs::path path;
  WinHandle handle;
};

Temp CreateTemp(const fs::path& target) {
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = L"." + target.filename().wstring() + L"." +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount64() + attempt);
    Temp temp{dir / name, WinHandle(::CreateFileW((dir / name).c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr))};
    if (temp.handle.valid() || ::GetLastError() != ERROR_FILE_EXISTS) {
      return temp;
    }
  }
  return {};
}

std::string Replace(const fs::path& path, std::span<const std::uint8_t> bytes) {
  Temp temp = CreateTemp(path);
  if (!temp.handle.valid()) {
    return LastErrorText();
  }
  std::string error = WriteAll(temp.handle.get(), bytes);
  if (error.empty() && ::FlushFileBuffers(temp.handle.get()) == 0) {
    error = LastErrorText();
  }
  if (!temp.handle.Close() && error.empty()) {
    error = LastErrorText();
  }
  if (error.empty() && ::MoveFileExW(temp.path.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    error = LastErrorText();
  }
  if (!error.empty()) {
    ::DeleteFileW(temp.path.c_str());
  }
  return error;
}

bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string Write(const std::string& name, std::span<const std::uint8_t> bytes,
                  const std::string& input) {
  if (name == "-") {
    return WriteStandardOutput(bytes, input);
  }
  const fs::path path(name);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return "Is a directory";
  }
  // Opening neither truncates nor changes a file; it tells a disk file from a device or a pipe.
  WinHandle handle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    return IsNotFound(error) ? Replace(path, bytes) : ErrorText(error);
  }
  switch (::GetFileType(handle.get())) {
    case FILE_TYPE_DISK:
      if (IsInput(handle.get(), input)) {
        return "it is the input file itself";
      }
      handle.Close();
      return Replace(path, bytes);
    case FILE_TYPE_CHAR:
    case FILE_TYPE_PIPE: {
      std::string error = WriteInto(handle.get(), bytes, input);
      if (!handle.Close() && error.empty()) {
        error = LastErrorText();
      }
      return error;
    }
    default:
      return "it is not a regular file, a character device or a pipe";
  }
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
  const auto out = IdOf(::GetStdHandle(STD_OUTPUT_HANDLE));
  return !name.empty() && out && out == IdOf(fs::path(name));
}

bool StandardOutputIsTerminal() {
  return ::_isatty(::_fileno(stdout)) != 0;
}

}  // namespace movrin
