#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>

#include "SignalWatcher.h"

namespace movrin {
namespace {

// Ctrl-C and SIGTERM must reach ordinary code (where the transfer is interrupted), and the
// process must keep running rather than die of the signal.
TEST(SignalWatcher, TurnsSignalsIntoACallback) {
  for (int signal : {SIGINT, SIGTERM}) {
    std::promise<int> seen;
    auto future = seen.get_future();
    bool once = false;
    struct sigaction before {};
    ASSERT_EQ(::sigaction(signal, nullptr, &before), 0);
    {
      SignalWatcher watcher([&](int s) {
        if (!once) {
          once = true;
          seen.set_value(s);
        }
      });
      ASSERT_TRUE(watcher.ok());
      ASSERT_EQ(std::raise(signal), 0);
      ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready)
          << "no callback for signal " << signal;
      EXPECT_EQ(future.get(), signal);
      EXPECT_EQ(watcher.received(), signal);
    }
    // The previous disposition is back once the watcher is gone.
    struct sigaction now {};
    ASSERT_EQ(::sigaction(signal, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, before.sa_handler);
  }
}

}  // namespace
}  // namespace movrin
