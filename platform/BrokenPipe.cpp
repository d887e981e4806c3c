#include <csignal>

#include "MidiBackend.h"

namespace movrin {

void IgnoreBrokenPipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace movrin
