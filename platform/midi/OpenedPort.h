#pragma once

// A port class's own open result as the interface's: the port exactly when there is no error.

#include <utility>

#include "MidiBackend.h"

namespace movrin {

template <typename Result, typename Opened>
[[nodiscard]] Result AsResult(Opened opened) {
  if (opened.error != MidiError::None) {
    return Result{nullptr, opened.error};
  }
  return Result{std::move(opened.port), MidiError::None};
}

}  // namespace movrin
