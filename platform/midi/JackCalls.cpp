#include "JackCalls.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define MOVRIN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MOVRIN_TSAN 1
#endif
#endif

#if defined(MOVRIN_TSAN)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace movrin::jack_calls {

namespace {

using Clock = std::chrono::steady_clock;

// No cycle for this long while a client of ours is active: the server has stalled.
constexpr std::chrono::milliseconds kSilentServer{1000};

std::atomic<int> leftBehind{0};
std::atomic<int> activeCycles{0};
std::atomic<Clock::rep> lastCycle{0};

#if defined(MOVRIN_TSAN)
char cycleOrder;  // stands for JACK's graph order
#endif

struct Call {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
};

}  // namespace

bool RunBounded(std::chrono::milliseconds limit, std::function<void()> run,
                std::function<void()> dropLate, bool (*futile)()) {
  auto call = std::make_shared<Call>();
  try {
    std::thread([call, run = std::move(run), dropLate = std::move(dropLate)] {
      run();
      std::unique_lock lock(call->mutex);
      if (!call->abandoned) {
        call->finished = true;
        call->done.notify_all();
        return;
      }
      lock.unlock();
      dropLate();  // before the count drops: closing what it made may wait as well
      leftBehind.fetch_sub(1);
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  const auto deadline = Clock::now() + limit;
  std::unique_lock lock(call->mutex);
  while (!call->finished) {
    if (futile() || Clock::now() >= deadline) {
      call->abandoned = true;
      leftBehind.fetch_add(1);
      return false;
    }
    call->done.wait_for(lock, std::chrono::milliseconds{20});
  }
  return true;
}

void NoteCycle() {
  lastCycle.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void CountActive(int change) {
  if (change > 0) {
    NoteCycle();  // the first cycle is still to come
  }
  activeCycles.fetch_add(change);
}

bool CyclesStopped() {
  return activeCycles.load() > 0 &&
         Clock::now() - Clock::time_point(Clock::duration(lastCycle.load())) > kSilentServer;
}

bool Stalled() {
  return leftBehind.load() > 0 || CyclesStopped();
}

void CycleBegins() {
#if defined(MOVRIN_TSAN)
  __tsan_acquire(&cycleOrder);
#endif
}

void CycleEnds() {
#if defined(MOVRIN_TSAN)
  __tsan_release(&cycleOrder);
#endif
}

}  // namespace movrin::jack_calls
