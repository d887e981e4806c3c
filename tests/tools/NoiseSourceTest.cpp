#include <gtest/gtest.h>

#include <cstdint>

#include "NoiseSource.h"
#include "Protocol.h"

namespace movrin {
namespace {

// Noise must never contain the note that would count in the phase it is sent in: that would
// make the sender start early or send a block nobody asked for.
TEST(NoiseSource, NeverSendsTheNoteThatCountsAndOnlyValidMessages) {
  for (bool sending : {false, true}) {
    NoiseSource noise(sending ? 3 : 4);
    int outOfPhase = 0;
    for (int i = 0; i < 2000; ++i) {
      for (const auto& m : noise.Burst(sending)) {
        ASSERT_GE(m.size(), 2u);
        ASSERT_LE(m.size(), 3u);
        ASSERT_GE(m[0], 0x80);
        ASSERT_LT(m[0], 0xF0);
        const bool twoBytes = (m[0] & 0xE0) == 0xC0;
        ASSERT_EQ(m.size(), twoBytes ? 2u : 3u);
        for (std::size_t j = 1; j < m.size(); ++j) {
          ASSERT_LT(m[j], 0x80);
        }
        const std::uint32_t value = ShortMessage(m[0], m[1], m.size() > 2 ? m[2] : 0);
        ASSERT_NE(value, sending ? NextNote : ReadyNote);
        if (value == (sending ? ReadyNote : NextNote)) {
          ++outOfPhase;
        }
      }
    }
    // The out-of-phase notes are the point of the exercise: they must actually occur.
    EXPECT_GT(outOfPhase, 0);
  }
}

}  // namespace
}  // namespace movrin
