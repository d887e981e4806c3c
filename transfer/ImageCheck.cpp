#include "ImageCheck.h"

namespace movrin {

std::string ImageCheckMessage(ImageCheck check, std::string_view fileName, std::uint64_t length) {
  const std::string name(fileName);
  switch (check) {
    case ImageCheck::Ok:
      return {};
    case ImageCheck::Empty:
      return "The image \"" + name + "\" is empty (0 bytes); there is nothing to send.";
    case ImageCheck::TooLarge:
      return "The image \"" + name + "\" is too large: " + std::to_string(length) +
             " bytes, but at most " + std::to_string(kMaxImageLength) + " bytes (" +
             std::to_string(kMaxBlockCount) + " blocks) can be sent.";
  }
  return {};
}

}  // namespace movrin
