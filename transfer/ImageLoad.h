#pragma once

// The one way an image gets from a file into memory, for every program that sends one. The
// source says what the system says (opened or not, the length, the bytes); the checks and their
// order are here: open, the length against the limit before any read, the whole file and no
// more, then whether there is anything to send. Each refusal carries the facts its message
// needs: the file's length, and the system's error number when there is one.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "ImageCheck.h"
#include "ImageFile.h"

namespace movrin {

// A file as the system offers it; the platform layer reads real files (ImageFileReader.h).
class ImageSource {
 public:
  struct Opened {
    FileError error = FileError::None;  // NotFound, NotAFile or CannotOpen
    int errnum = 0;
    std::uint64_t length = 0;  // what the system says the file holds
  };
  virtual ~ImageSource() = default;
  [[nodiscard]] virtual Opened Open() = 0;
  // Fills the front of `into`: the count, 0 at the end of the file, -1 with `errnum` set.
  [[nodiscard]] virtual std::int64_t Read(std::span<std::uint8_t> into, int& errnum) = 0;
};

// The whole file, or why not. Refuses more than maxLength, short reads and growth; an empty
// file is read as empty.
[[nodiscard]] ImageFileResult ReadImage(ImageSource& source, std::uint64_t maxLength);

// What a sender may send: ReadImage with the protocol's limit, and an empty file refused.
[[nodiscard]] ImageFileResult LoadImage(ImageSource& source);

// For Empty and TooLarge, the sentence of ImageCheckMessage; empty for every other result.
[[nodiscard]] std::string ImageLengthMessage(const ImageFileResult& result,
                                             std::string_view fileName);

}  // namespace movrin
