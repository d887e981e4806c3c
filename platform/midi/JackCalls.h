#pragma once

// Calls on a JACK server with a limit, and the signs that the server has stalled. A stalled
// server (stopped, or starved of CPU) answers no request, and libjack waits for its answer
// without limit. So every call that needs the server runs on a thread of its own and the caller
// waits for it only so long; a call left behind ends, and cleans up after itself, whenever the
// server answers, or never.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace movrin::jack_calls {

// Runs `run` on a thread of its own and waits for it at most `limit`, or until `futile` says
// waiting is. True when it ended in time; otherwise it goes on, and `dropLate` runs after it
// on that thread (to undo what it made). False, too, when no thread could be started.
[[nodiscard]] bool RunBounded(std::chrono::milliseconds limit, std::function<void()> run,
                              std::function<void()> dropLate, bool (*futile)());

// A cycle of one of our clients has run (called from process callbacks).
void NoteCycle();
// A client of ours that runs cycles became active (+1) or closed (-1).
void CountActive(int change);
// No cycle for a while although a client of ours is active: a loaded server still runs
// cycles, a stopped one none.
[[nodiscard]] bool CyclesStopped();
// That, or the server left a call of ours unanswered.
[[nodiscard]] bool Stalled();

// ThreadSanitizer cannot see how JACK orders the process callbacks of clients (futexes in
// shared memory, inside a library it does not instrument), so a port buffer written by one of
// our clients and read by another in this process looks unsynchronised. Process callbacks call
// these at their start and end; outside such builds they do nothing.
void CycleBegins();
void CycleEnds();

// `work`'s result, or nothing once `limit` passed or `futile` says waiting is. A result that
// comes too late is dropped on the call's thread.
template <typename T>
[[nodiscard]] std::optional<T> Bounded(std::chrono::milliseconds limit, std::function<T()> work,
                                       bool (*futile)() = &CyclesStopped) {
  auto result = std::make_shared<std::optional<T>>();
  const bool inTime = RunBounded(
      limit, [result, work = std::move(work)] { result->emplace(work()); },
      [result] { result->reset(); }, futile);
  if (!inTime) {
    return std::nullopt;
  }
  return std::move(*result);
}

}  // namespace movrin::jack_calls
