// The delay finder's tick by rate and range, and the radix-2 FFT engine for comparison.
// Blocks are fed between ticks, untimed.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "delay/DelayLocator.h"
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

// One tick of the delay finder (DelayLocator): the 0.1 s of audio that arrived goes into the
// histories (and through the coarse search's decimation), then the fine search at full rate
// and, when the range needs it, the coarse search over the whole range (every tick while
// it has found nothing clear, every fifth tick after that, every twentieth while the fine
// search also holds the arrival). Arguments: rate in Hz, range in ms (100 ms: the fine
// search alone reaches it), 1 when the signals are related (the coarse search then runs
// every twentieth tick), 0 for unrelated noise (every tick).
void BM_DelayLocatorTick(benchmark::State& state) {
  const auto rate = static_cast<uint32_t>(state.range(0));
  qv::DelaySearch::Settings settings;
  settings.rangeSeconds = static_cast<double>(state.range(1)) / 1000.0;
  const bool related = state.range(2) != 0;
  auto locator = std::make_shared<qv::DelayLocator>(/*ownTimer=*/false);
  locator->setSettings(settings);
  locator->setInputChannelCountSamplingRateAudioDataTransport(2, rate, {});
  const auto frames = static_cast<int32_t>(rate / 10);
  // Ten seconds of blocks: the measurement is the reference 5 ms later, or other noise.
  std::mt19937 random(3);
  std::normal_distribution<float> gauss(0.0f, 0.1f);
  const size_t total = static_cast<size_t>(rate) * 10;
  std::vector<float> reference(total), other(total);
  for (auto& v : reference) v = gauss(random);
  for (auto& v : other) v = gauss(random);
  const size_t lag = rate / 200;
  std::vector<float> block(2 * static_cast<size_t>(frames));
  size_t at = 0;
  const auto feed = [&] {
    if (at + static_cast<size_t>(frames) > total) at = lag;
    for (int32_t f = 0; f < frames; ++f) {
      block[2 * static_cast<size_t>(f)] = related ? reference[at + f - lag] : other[at + f];
      block[2 * static_cast<size_t>(f) + 1] = reference[at + f];
    }
    at += static_cast<size_t>(frames);
    locator->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
  };
  at = lag;
  for (int i = 0; i < 50; ++i) {  // set up, fill the histories, settle
    feed();
    locator->processTick();
  }
  for (auto _ : state) {
    state.PauseTiming();
    feed();
    state.ResumeTiming();
    benchmark::DoNotOptimize(locator->processTick());
  }
  state.counters["found"] = locator->lastEstimate().state == qv::DelayState::Found ? 1 : 0;
}
BENCHMARK(BM_DelayLocatorTick)
    ->Args({44100, 100, 1})
    ->Args({44100, 1000, 1})
    ->Args({44100, 3000, 1})
    ->Args({44100, 3000, 0})
    ->Args({48000, 3000, 1})
    ->Args({96000, 3000, 1})
    ->Args({192000, 3000, 1})
    ->Args({192000, 3000, 0})
    ->Unit(benchmark::kMicrosecond);

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

// The floor the finder's tick is read against: three 65536-point real transforms, in the
// same run as BM_DelayLocatorTick.
void BM_ThreeRealFfts65536(benchmark::State& state) {
  auto in = qv::fft::allocateFloats(kN);
  auto out = qv::fft::allocateFloats(kN + 2);
  const auto block = noiseBlock(kN / 2);
  for (int32_t i = 0; i < kN; ++i) in[i] = block[static_cast<size_t>(i)];
  const auto& plan = qv::fft::RealPlan::get(kN);
  plan.forward(in.get(), out.get());  // plans outside the timing
  for (auto _ : state) {
    for (int i = 0; i < 3; ++i) plan.forward(in.get(), out.get());
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ThreeRealFfts65536)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
