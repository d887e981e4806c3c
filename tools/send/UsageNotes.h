#pragma once

// The part of movrin-send's --help that differs between systems: the MIDI system's caveats on
// Linux, examples as typed at a Windows prompt on Windows.

#include <string>

namespace movrin {

// Whole lines, each ending in a newline.
[[nodiscard]] std::string PlatformUsageNotes();

}  // namespace movrin
