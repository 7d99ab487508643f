// What a drift resampler costs to start: made, then one block of the largest size the
// recorders deliver passed through, with and without a drift to take out.
#include <benchmark/benchmark.h>

#include <vector>

#include "audiolib/DriftResampler.h"

namespace {

constexpr uint32_t kBlock = 15360;

void startResampler(benchmark::State& state, double ppm) {
  const std::vector<float> in(2 * kBlock, 0.25f);
  std::vector<float> out(2 * kBlock);
  for (auto _ : state) {
    qv::DriftResampler resampler;
    resampler.setDriftPpm(ppm);
    benchmark::DoNotOptimize(resampler.process(in.data(), kBlock, out.data(), kBlock));
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_DriftResamplerStart(benchmark::State& state) { startResampler(state, 0.0); }
void BM_DriftResamplerStartDrifting(benchmark::State& state) { startResampler(state, 20.0); }

}  // namespace

BENCHMARK(BM_DriftResamplerStart)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DriftResamplerStartDrifting)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
