// Packing throughput beside a plain copy of the same size: packing touches every byte once and
// writes 8/7 as many, so a copy is the ceiling it is measured against.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Packing.h"

namespace {

std::vector<std::uint8_t> RandomImage(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  std::mt19937 rng(7);
  for (auto& b : image) {
    b = static_cast<std::uint8_t>(rng());
  }
  return image;
}

void BM_PackImage(benchmark::State& state) {
  const auto image = RandomImage(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto packed = movrin::PackImage(image);
    benchmark::DoNotOptimize(packed.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
  const auto image = RandomImage(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    // Allocate like PackImage does, so both pay for a fresh buffer.
    std::vector<std::uint8_t> copy(image.size());
    std::memcpy(copy.data(), image.data(), image.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_UnpackImage(benchmark::State& state) {
  const auto packed = movrin::PackImage(RandomImage(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    auto result = movrin::UnpackImage(packed);
    benchmark::DoNotOptimize(result.image.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_PackImage)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(BM_Memcpy)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(BM_UnpackImage)->Arg(1 << 20);

BENCHMARK_MAIN();
