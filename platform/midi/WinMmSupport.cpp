#include "WinMmSupport.h"

#include <algorithm>

namespace movrin {

std::string Utf8FromWide(std::wstring_view wide) {
  std::string out;
  auto put = [&out](std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(static_cast<std::uint16_t>(wide[i]));
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
      const auto low = static_cast<std::uint32_t>(static_cast<std::uint16_t>(wide[i + 1]));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    put(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
  }
  return out;
}

std::vector<std::string> DistinctNames(std::vector<std::string> names) {
  std::vector<std::string> seen;
  for (std::string& name : names) {
    const std::string plain = name;
    for (int n = 2; std::find(seen.begin(), seen.end(), name) != seen.end(); ++n) {
      name = plain + " (" + std::to_string(n) + ")";
    }
    seen.push_back(name);
  }
  return names;
}

std::chrono::milliseconds SysExSendLimit(std::size_t bytes) {
  constexpr std::size_t kBytesPerSecond = 3125;
  return std::chrono::milliseconds(2000 + (bytes * 1000 + kBytesPerSecond - 1) / kBytesPerSecond);
}

MidiError ErrorFromMmResult(MMRESULT result, MidiError otherwise) {
  switch (result) {
    case MMSYSERR_NOERROR:
      return MidiError::None;
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
    case MMSYSERR_INVALHANDLE:
      return MidiError::NoSuchPort;
    case MMSYSERR_ALLOCATED:
      return MidiError::OpenFailed;
    default:
      return otherwise;
  }
}

std::vector<std::uint8_t> UnpackShortMessage(DWORD_PTR packed) {
  const auto status = static_cast<std::uint8_t>(packed & 0xFF);
  std::size_t length = 3;
  if ((status >= 0xC0 && status <= 0xDF) || status == 0xF1 || status == 0xF3) {
    length = 2;
  } else if (status >= 0xF4) {
    length = 1;
  }
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>((packed >> (8 * i)) & 0xFF);
  }
  return bytes;
}

}  // namespace movrin
