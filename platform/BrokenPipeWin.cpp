#include "MidiBackend.h"

namespace movrin {

// Windows has no SIGPIPE: a write to a closed pipe fails with ERROR_NO_DATA, as we want.
void IgnoreBrokenPipe() {}

}  // namespace movrin
