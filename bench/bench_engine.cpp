// One display tick of the live configuration: N = 32768 at 44 100 Hz, R = 96, S = 12,
// ticks at 30 Hz, 125 ms blocks arriving as they would from the recorder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "audiolib/SpectrumStream.h"
#include "engine/TFDataSource.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Clock.h"
#include "platform/FftBackend.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr int kN = 32768;
constexpr uint32_t kFramesPerTick = kRate / 30;

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Noise whose measurement channel lags the reference, so the averages hold real values.
std::vector<float> signal() {
  std::mt19937 generator(5);
  std::uniform_real_distribution<float> uniform(-0.25f, 0.25f);
  std::vector<float> x(kRate + 64);
  for (float& v : x) v = uniform(generator);
  std::vector<float> out(2 * kRate);
  for (uint32_t i = 0; i < kRate; ++i) {
    out[2 * i] = x[i];
    out[2 * i + 1] = x[i + 64];
  }
  return out;
}

// Feeds one tick's worth of audio, so the ring stays at its working fill.
class Feeder {
 public:
  void feed(qv::QVRecorderConsumer& consumer) {
    if (position_ + kFramesPerTick > kRate) position_ = 0;
    consumer.getData(audio_.data() + 2 * position_, kFramesPerTick * 8);
    position_ += kFramesPerTick;
  }

 private:
  std::vector<float> audio_ = signal();
  uint32_t position_ = 0;
};

// The memory the engine holds once it runs: resident growth from creating a model and
// running it for three seconds of ticks, and the process's peak at that point.
void BM_EngineMemory(benchmark::State& state) {
  for (auto _ : state) {
    const long before = residentKiB();
    auto clock = std::make_shared<qv::ManualClock>();
    auto model = std::make_unique<qv::TransferFunctionModel>(kN, kRate, 96, 12, clock);
    Feeder feeder;
    for (int i = 0; i < 90; ++i) {
      feeder.feed(*model->tfDataSource());
      clock->advance(1.0 / 30);
      model->transform(0.0);
    }
    state.counters["engine_KiB"] = static_cast<double>(residentKiB() - before);
    state.counters["process_peak_KiB"] = static_cast<double>(peakKiB());
  }
}
BENCHMARK(BM_EngineMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// The data source as the display uses it: it reads the compact averages of bins 0 … N/2.
// With fullLayout (argument 1) a reader of the four-floats-per-bin buffers is present, so
// every update also keeps those current.
void BM_TFDataSourceUpdate(benchmark::State& state) {
  auto clock = std::make_shared<qv::ManualClock>();
  qv::TFDataSource source(kRate, kN, 1.0f, 1100.0f, 1.0f, clock);
  source.setChannelsSwapped(true);
  source.setAveragingCoeficient(0.1f);
  const bool fullLayout = state.range(0) != 0;
  if (fullLayout) benchmark::DoNotOptimize(source.inputPowerSpectraBuffer());
  Feeder feeder;
  for (int i = 0; i < 90; ++i) {  // settle the ring
    feeder.feed(source);
    clock->advance(1.0 / 30);
    source.update(0.0);
  }
  for (auto _ : state) {
    state.PauseTiming();
    feeder.feed(source);
    clock->advance(1.0 / 30);
    state.ResumeTiming();
    source.update(0.0);
    benchmark::DoNotOptimize(source.averagedSpectra().powerA[1]);
  }
}
BENCHMARK(BM_TFDataSourceUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The display tick. With argument 1 the compensation has a fraction of a sample (2.000 ms
// at 44.1 kHz is 88.2 samples), so every frame's cross spectrum is also turned by it.
void BM_ModelTransform(benchmark::State& state) {
  auto clock = std::make_shared<qv::ManualClock>();
  qv::TransferFunctionModel model(kN, kRate, 96, 12, clock);
  model.tfDataSource()->setChannelsSwapped(true);
  model.setAveragingIndex(100);
  if (state.range(0) != 0) model.tfDataSource()->setDelay(2.0);
  Feeder feeder;
  for (int i = 0; i < 90; ++i) {
    feeder.feed(*model.tfDataSource());
    clock->advance(1.0 / 30);
    model.transform(0.0);
  }
  for (auto _ : state) {
    state.PauseTiming();
    feeder.feed(*model.tfDataSource());
    clock->advance(1.0 / 30);
    state.ResumeTiming();
    model.transform(0.0);
    benchmark::DoNotOptimize(model.mpolyline()->values()[500]);
  }
}
BENCHMARK(BM_ModelTransform)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The stream's share of a tick: deinterleave a frame, window and transform both channels.
void BM_SpectrumStreamFft(benchmark::State& state) {
  auto stream = qv::SpectrumStream::create(kRate, 2, 1000.0f);
  stream->prepareFft(kN);
  const uint32_t delay = stream->setFx(qv::SpectrumStream::FxType::DelayLine, 2);
  stream->fxSetParameters(delay, qv::SpectrumStream::DelayLineParameters{0.0f, 200.0f});
  std::vector<float> frames(2 * kN, 0.1f);
  std::vector<float> out(4 * kN);
  const uint32_t flags = qv::SpectrumStream::complexFftFlags(kN);
  for (auto _ : state) {
    stream->putData(frames.data(), 8 * kN);
    benchmark::DoNotOptimize(stream->getData(out.data(), flags));
    stream->passData(frames.data(), 8 * kFramesPerTick);
  }
}
BENCHMARK(BM_SpectrumStreamFft)->Unit(benchmark::kMicrosecond);

// The floor of a display tick: the two 32768-point real transforms it cannot do without,
// in the same run, so that BM_ModelTransform can be read as a multiple of them.
void BM_TwoRealFfts(benchmark::State& state) {
  auto in = qv::fft::allocateFloats(kN);
  auto out = qv::fft::allocateFloats(kN + 2);
  const auto audio = signal();
  for (int i = 0; i < kN; ++i) in[i] = audio[static_cast<size_t>(i)];
  const auto& plan = qv::fft::RealPlan::get(kN);
  plan.forward(in.get(), out.get());  // plans outside the timing
  for (auto _ : state) {
    plan.forward(in.get(), out.get());
    plan.forward(in.get(), out.get());
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TwoRealFfts)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
