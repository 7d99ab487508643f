// The FFT sizes the program runs: 32768 points (live spectra) and 65536 (delay finder).
#include <benchmark/benchmark.h>

#include <random>

#include "platform/FftBackend.h"

namespace {

void fillNoise(float* p, size_t n) {
  std::mt19937 gen(1);
  std::normal_distribution<float> d;
  for (size_t i = 0; i < n; ++i) p[i] = d(gen);
}

void BM_ComplexForward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto in = qv::fft::allocateFloats(2 * static_cast<size_t>(n));
  auto out = qv::fft::allocateFloats(2 * static_cast<size_t>(n));
  fillNoise(in.get(), 2 * static_cast<size_t>(n));
  const auto& plan = qv::fft::ComplexPlan::get(n);
  plan.execute(in.get(), out.get());  // plans outside the timing
  for (auto _ : state) {
    plan.execute(in.get(), out.get());
    benchmark::DoNotOptimize(out.get());
  }
}
BENCHMARK(BM_ComplexForward)->Arg(32768)->Arg(65536)->Unit(benchmark::kMicrosecond);

// Stereo frames read where they lie in a ring start on any frame: half the time off the
// 16-byte alignment that the aligned plans want.
void BM_ComplexForwardUnaligned(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto in = qv::fft::allocateFloats(2 * static_cast<size_t>(n) + 2);
  auto out = qv::fft::allocateFloats(2 * static_cast<size_t>(n));
  fillNoise(in.get(), 2 * static_cast<size_t>(n) + 2);
  const auto& plan = qv::fft::ComplexPlan::get(n);
  plan.execute(in.get() + 2, out.get());
  for (auto _ : state) {
    plan.execute(in.get() + 2, out.get());
    benchmark::DoNotOptimize(out.get());
  }
}
BENCHMARK(BM_ComplexForwardUnaligned)->Arg(32768)->Unit(benchmark::kMicrosecond);

void BM_RealForward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto in = qv::fft::allocateFloats(static_cast<size_t>(n));
  auto out = qv::fft::allocateFloats(static_cast<size_t>(n) + 2);
  fillNoise(in.get(), static_cast<size_t>(n));
  const auto& plan = qv::fft::RealPlan::get(n);
  plan.forward(in.get(), out.get());
  for (auto _ : state) {
    plan.forward(in.get(), out.get());
    benchmark::DoNotOptimize(out.get());
  }
}
BENCHMARK(BM_RealForward)->Arg(32768)->Arg(65536)->Unit(benchmark::kMicrosecond);

// A ring's tail is only float-aligned: the unaligned plans are what the finder reads with.
void BM_RealForwardUnaligned(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto in = qv::fft::allocateFloats(static_cast<size_t>(n) + 1);
  auto out = qv::fft::allocateFloats(static_cast<size_t>(n) + 2);
  fillNoise(in.get(), static_cast<size_t>(n) + 1);
  const auto& plan = qv::fft::RealPlan::get(n);
  plan.forward(in.get() + 1, out.get());
  for (auto _ : state) {
    plan.forward(in.get() + 1, out.get());
    benchmark::DoNotOptimize(out.get());
  }
}
BENCHMARK(BM_RealForwardUnaligned)->Arg(65536)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
