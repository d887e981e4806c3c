#include "ImageFile.h"

#include <cstring>
#include <system_error>

namespace movrin {

std::string Describe(FileError error) {
  switch (error) {
    case FileError::None:
      return "no error";
    case FileError::NotFound:
      return "no such file";
    case FileError::NotAFile:
      return "not a regular file";
    case FileError::CannotOpen:
      return "cannot be opened";
    case FileError::ReadFailed:
      return "could not be read completely";
    case FileError::TooLarge:
      return "too large";
    case FileError::Empty:
      return "empty";
  }
  return "unknown error";
}

std::string DescribeWithReason(const ImageFileResult& result) {
  std::string text = Describe(result.error);
  if (result.errnum != 0) {
    text += " (" + std::string(std::strerror(result.errnum)) + ")";
  }
  return text;
}

bool HasImageExtension(const std::string& name) {
  if (name.size() < 4) {
    return false;
  }
  const std::string tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'b' && (tail[2] | 0x20) == 'i' &&
         (tail[3] | 0x20) == 'n';
}

ImageListing ListImageFiles(const std::filesystem::path& folder, std::size_t limit) {
  ImageListing listing;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    return listing;
  }
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) {
      break;
    }
    std::string name = it->path().filename().string();
    if (!HasImageExtension(name)) {
      continue;
    }
    ++listing.matching;
    if (listing.names.size() + 1 < limit) {
      listing.names.push_back(std::move(name));
    }
  }
  return listing;
}

}  // namespace movrin
