#include "UsageNotes.h"

namespace movrin {

std::string PlatformUsageNotes() {
  return "Examples:\n"
         "  movrin-send.exe --list\n"
         "  movrin-send.exe --out \"USB MIDI\" --in \"USB MIDI\" firmware.bin\n"
         "  movrin-send.exe --info C:\\Firmware\\firmware.bin\n"
         "  movrin-send.exe --export firmware.syx firmware.bin\n"
         "Ctrl-C or Ctrl-Break stops a transfer; the ports are closed first.\n";
}

}  // namespace movrin
