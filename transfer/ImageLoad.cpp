#include "ImageLoad.h"

namespace movrin {
namespace {

ImageFileResult Fail(FileError error, std::uint64_t length, int errnum = 0) {
  ImageFileResult result;
  result.error = error;
  result.length = length;
  result.errnum = errnum;
  return result;
}

}  // namespace

ImageFileResult ReadImage(ImageSource& source, std::uint64_t maxLength) {
  const ImageSource::Opened opened = source.Open();
  if (opened.error != FileError::None) {
    return Fail(opened.error, opened.length, opened.errnum);
  }
  const std::uint64_t length = opened.length;
  if (length > maxLength) {
    return Fail(FileError::TooLarge, length);
  }
  ImageFileResult result;
  result.length = length;
  result.bytes.resize(length);
  std::span<std::uint8_t> rest(result.bytes);
  while (!rest.empty()) {
    int errnum = 0;
    const std::int64_t n = source.Read(rest, errnum);
    if (n <= 0) {
      // Fewer bytes than the length said: the file was truncated after its length was taken.
      return Fail(FileError::ReadFailed, length, n < 0 ? errnum : 0);
    }
    rest = rest.subspan(static_cast<std::size_t>(n));
  }
  // A file that grew after its length was taken would be sent cut off.
  std::uint8_t extra = 0;
  int errnum = 0;
  if (source.Read(std::span(&extra, 1), errnum) != 0) {
    return Fail(FileError::ReadFailed, length, errnum);
  }
  return result;
}

ImageFileResult LoadImage(ImageSource& source) {
  ImageFileResult result = ReadImage(source, kMaxImageLength);
  if (result.ok() && result.bytes.empty()) {
    return Fail(FileError::Empty, 0);
  }
  return result;
}

std::string ImageLengthMessage(const ImageFileResult& result, std::string_view fileName) {
  switch (result.error) {
    case FileError::Empty:
      return ImageCheckMessage(ImageCheck::Empty, fileName, 0);
    case FileError::TooLarge:
      return ImageCheckMessage(ImageCheck::TooLarge, fileName, result.length);
    default:
      return {};
  }
}

}  // namespace movrin
