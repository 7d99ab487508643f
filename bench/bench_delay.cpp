// One delay-finder tick at 44.1 kHz: two forward real transforms of the 65536-sample
// windows, the per-bin averaging loop, the inverse transform to the impulse, the peak
// search and the scaled copy for the caller. Blocks are fed between ticks, untimed.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "delay/QVDelayFinder.h"
#include "engine/Fft.h"
#include "platform/Clock.h"
#include "platform/FftBackend.h"

namespace {

constexpr int32_t kN = 65536;

std::vector<float> noiseBlock(int32_t frames) {
  std::mt19937 random(1);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> block(2 * static_cast<size_t>(frames));
  for (auto& v : block) v = uniform(random);
  return block;
}

void BM_DelayFinderTick(benchmark::State& state) {
  const int sizes[] = {kN};
  qv::fft::preparePlans(sizes, 1);
  auto clock = std::make_shared<qv::ManualClock>();
  auto finder = std::make_shared<qv::QVDelayFinder>(0, 0, clock, /*ownTimer=*/false);
  finder->setInputChannelCountSamplingRateAudioDataTransport(2, 44100, {});
  const int32_t frames = 2205;  // 0.05 s, the tick period on larger machines
  const auto block = noiseBlock(frames);
  const auto bytes = static_cast<uint32_t>(block.size() * sizeof(float));
  finder->processTick();  // the first tick sets the averages up for the rate
  for (auto _ : state) {
    state.PauseTiming();
    finder->getData(block.data(), bytes);
    clock->advance(0.05);
    state.ResumeTiming();
    benchmark::DoNotOptimize(finder->processTick());
  }
}
BENCHMARK(BM_DelayFinderTick)->Unit(benchmark::kMicrosecond);

// The radix-2 engine on the same length, for comparison with the FFTW impulse path.
void BM_FftTransform65536(benchmark::State& state) {
  qv::Fft fft(kN, 44100, 0);
  const auto block = noiseBlock(kN / 2);
  fft.CopyIn(block.data(), kN);
  for (auto _ : state) {
    fft.Transform();
    benchmark::DoNotOptimize(fft.Work.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FftTransform65536)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
