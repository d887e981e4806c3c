#include "MidiInbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

namespace movrin {
namespace {

using std::chrono::milliseconds;

// Long enough never to expire on a loaded machine; a hang still ends as a failure.
constexpr milliseconds kWatchdog{10000};

TEST(MidiInbox, KeepsArrivalOrderAcrossThreads) {
  MidiInbox inbox;
  constexpr std::uint32_t kCount = 2000;
  std::thread producer([&] {
    for (std::uint32_t i = 0; i < kCount; ++i) {
      inbox.Push(i);
    }
  });
  std::vector<std::uint32_t> got;
  while (got.size() < kCount) {
    const auto item = inbox.WaitPop(kWatchdog);
    ASSERT_TRUE(item.has_value()) << "after " << got.size();
    got.push_back(*item);
  }
  producer.join();
  for (std::uint32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(got[i], i);
  }
}

TEST(MidiInbox, TimesOutEmpty) {
  MidiInbox inbox;
  EXPECT_FALSE(inbox.WaitPop(milliseconds{0}).has_value());
  EXPECT_FALSE(inbox.WaitPop(milliseconds{20}).has_value());
  EXPECT_FALSE(inbox.interrupted());
}

TEST(MidiInbox, InterruptWakesAWaiterAndStays) {
  MidiInbox inbox;
  std::promise<void> waiting;
  auto result = std::async(std::launch::async, [&] {
    waiting.set_value();
    return inbox.WaitPop(milliseconds{60000});
  });
  waiting.get_future().wait();
  inbox.Interrupt();
  ASSERT_EQ(result.wait_for(kWatchdog), std::future_status::ready) << "waiter not woken";
  EXPECT_FALSE(result.get().has_value());
  // Sticky, and it wins over queued items.
  inbox.Push(0x903C11);
  EXPECT_TRUE(inbox.interrupted());
  EXPECT_FALSE(inbox.WaitPop(milliseconds{60000}).has_value());
}

TEST(MidiInbox, ClearDropsQueuedItems) {
  MidiInbox inbox;
  inbox.Push(1);
  inbox.Push(2);
  inbox.Clear();
  inbox.Push(3);
  EXPECT_EQ(inbox.WaitPop(kWatchdog), 3u);
  EXPECT_FALSE(inbox.WaitPop(milliseconds{0}).has_value());
}

TEST(RawInbox, CarriesWholeMessages) {
  RawInbox inbox;
  std::vector<std::uint8_t> block(1038, 0x11);
  block.front() = 0xF0;
  block.back() = 0xF7;
  inbox.Push(block);
  inbox.Push({0x90, 0x3C, 0x33});
  EXPECT_EQ(inbox.WaitPop(kWatchdog), block);
  EXPECT_EQ(inbox.WaitPop(kWatchdog), (std::vector<std::uint8_t>{0x90, 0x3C, 0x33}));
}

}  // namespace
}  // namespace movrin
