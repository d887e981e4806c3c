#include "UsageNotes.h"

#include "MidiBackend.h"

namespace movrin {

std::string PlatformUsageNotes() {
  return "A JACK server that does not answer (stopped or hung) is given up after " +
         std::to_string(kServerAnswerLimit.count()) +
         " s;\n"
         "Ctrl-C ends the wait at once.\n";
}

}  // namespace movrin
