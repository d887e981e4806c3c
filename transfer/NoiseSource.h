#pragma once

// Stray traffic a sender must ignore: short messages on other channels, keys and velocities,
// near misses of the two reply notes, and the right notes in the wrong phase.

#include <cstdint>
#include <random>
#include <vector>

namespace movrin {

class NoiseSource {
 public:
  explicit NoiseSource(std::uint32_t seed) : random_(seed) {}

  // Zero to three messages. `sending` says whether the ready note has already gone out in this
  // transfer: before it a request note is out of phase, after it the ready note is. The note
  // that would count in the current phase is never produced.
  [[nodiscard]] std::vector<std::vector<std::uint8_t>> Burst(bool sending);

 private:
  [[nodiscard]] std::vector<std::uint8_t> StrayMessage();
  [[nodiscard]] int Pick(int low, int high);

  std::mt19937 random_;
};

}  // namespace movrin
