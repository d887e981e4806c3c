#pragma once

// What the WinMM back end's classes share: device names as the user sees them, the limit a
// send may take, and WinMM's result codes as the interface's errors.

#include <windows.h>
// windows.h first: mmsystem.h needs its types.
#include <mmsystem.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MidiBackend.h"

namespace movrin {

// Windows' UTF-16 name in UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);

// Two devices of the same product have the same name: the second and later get " (2)", " (3)"
// so that each name still opens one device. Order is kept.
[[nodiscard]] std::vector<std::string> DistinctNames(std::vector<std::string> names);

// How long the driver may take to play out `bytes` of System Exclusive: the time at MIDI's
// 3125 bytes per second, and 2 s for a driver or a mapper that starts late.
[[nodiscard]] std::chrono::milliseconds SysExSendLimit(std::size_t bytes);

// `otherwise` for the codes that do not tell a port gone from one refused.
[[nodiscard]] MidiError ErrorFromMmResult(MMRESULT result, MidiError otherwise);

// The bytes of the short message a MIM_DATA callback carries: its status tells how many of the
// packed three count.
[[nodiscard]] std::vector<std::uint8_t> UnpackShortMessage(DWORD_PTR packed);

}  // namespace movrin
