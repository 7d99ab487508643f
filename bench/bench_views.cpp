// Per-tick cost of the spectrum views: what the session adds to one display tick for each
// view that is shown (N = 32768 at 48 kHz, both inputs). "pct_core_30Hz" is the share of
// one core, in per cent, that view takes at 30 ticks a second, from the CPU time (the
// library prints it with an "s": it is an inverted rate).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "audiolib/SpectrumStream.h"
#include "engine/GroupDelayAnalyser.h"
#include "engine/SoundLevelMeter.h"
#include "engine/Spectrogram.h"
#include "engine/SpectrumAnalyser.h"
#include "engine/TFDataSource.h"
#include "platform/Clock.h"
#include "platform/FftBackend.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr int kN = 32768;
constexpr double kTick = 1.0 / 30.0;

std::vector<float> noise(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> uniform(-0.25f, 0.25f);
  std::vector<float> x(count);
  for (float& v : x) v = uniform(generator);
  return x;
}

// The half spectra of one frame of noise on both inputs, as the data source has them.
struct Frame {
  Frame()
      : measurement(qv::fft::allocateFloats(kN + 2)), reference(qv::fft::allocateFloats(kN + 2)) {
    const auto a = noise(kN, 1), b = noise(kN, 2);
    std::vector<float> interleaved(2 * kN);
    for (int i = 0; i < kN; ++i) {
      interleaved[2 * i] = a[i];
      interleaved[2 * i + 1] = b[i];
    }
    auto stream = qv::SpectrumStream::create(kRate, 2, 10.0f);
    stream->prepareFft(kN);
    stream->putDataAndGetHalfSpectra(interleaved.data(), 8 * kN, measurement.get(), reference.get(),
                                     qv::SpectrumStream::complexFftFlags(kN));
  }
  qv::fft::AlignedFloats measurement;
  qv::fft::AlignedFloats reference;
};

void reportCoreShare(benchmark::State& state) {
  // seconds per tick · 30 ticks · 100 %
  state.counters["pct_core_30Hz"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 3000.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Arguments: bands per octave; both inputs, A weighting, exponential averaging.
void BM_SpectrumAnalyserTick(benchmark::State& state) {
  Frame frame;
  auto clock = std::make_shared<qv::ManualClock>();
  qv::SpectrumAnalyser::Settings settings;
  settings.bandsPerOctave = static_cast<int32_t>(state.range(0));
  settings.weighting = qv::Weighting::A;
  qv::SpectrumAnalyser rta(kN, kRate, settings, clock);
  for (auto _ : state) {
    rta.process(frame.measurement.get(), frame.reference.get(), kN);
    clock->advance(kTick);
  }
  benchmark::DoNotOptimize(rta.levels(0).data());
  reportCoreShare(state);
}
BENCHMARK(BM_SpectrumAnalyserTick)->Arg(3)->Arg(48);

// Arguments: bands per 0.3 decade.
void BM_SpectrogramTick(benchmark::State& state) {
  Frame frame;
  auto clock = std::make_shared<qv::ManualClock>();
  qv::Spectrogram::Settings settings;
  settings.octResolution = static_cast<int32_t>(state.range(0));
  qv::Spectrogram spectrogram(kN, kRate, kTick, settings, clock);
  for (auto _ : state) {
    spectrogram.process(frame.measurement.get(), kN);
    clock->advance(kTick);
  }
  state.counters["rows"] = spectrogram.rows();
  reportCoreShare(state);
}
BENCHMARK(BM_SpectrogramTick)->Arg(24)->Arg(96);

// What a view copies on each repaint: the one new column, at 96 bands per 0.3 decade.
void BM_SpectrogramCopyNewColumn(benchmark::State& state) {
  qv::SpectrogramHistory history(1113, 901);
  std::vector<float> column(1113, -50.0f);
  for (int i = 0; i < 1000; ++i) history.addColumn(column.data());
  for (auto _ : state) {
    history.addColumn(column.data());
    const auto copied = history.copyColumns(history.columnCount() - 1, column.data(), 1);
    benchmark::DoNotOptimize(copied);
  }
  reportCoreShare(state);
}
BENCHMARK(BM_SpectrogramCopyNewColumn);

void BM_GroupDelayTick(benchmark::State& state) {
  auto clock = std::make_shared<qv::ManualClock>();
  qv::TFDataSource source(kRate, kN, 1.0f, 1100.0f, 0.1f, clock);
  const auto a = noise(kN, 3);
  std::vector<float> interleaved(2 * kN);
  for (int i = 0; i < kN; ++i) interleaved[2 * i] = interleaved[2 * i + 1] = a[i];
  source.getData(interleaved.data(), 8 * kN);
  clock->advance(1.0);
  source.update(0.0);
  qv::GroupDelayAnalyser analyser(kN, kRate, 96);
  const auto spectra = source.averagedSpectra();
  for (auto _ : state) analyser.process(spectra);
  benchmark::DoNotOptimize(analyser.values());
  reportCoreShare(state);
}
BENCHMARK(BM_GroupDelayTick);

// One tick's audio (1/30 s) of both inputs through the A weighting and the level sums.
void BM_SoundLevelMeterTick(benchmark::State& state) {
  const size_t frames = kRate / 30;
  const auto audio = noise(2 * frames, 4);
  qv::SoundLevelMeter meter(kRate, qv::Weighting::A, qv::TimeWeighting::Fast);
  for (auto _ : state) {
    meter.process(audio.data(), frames);
    benchmark::DoNotOptimize(meter.reading(0));
  }
  reportCoreShare(state);
}
BENCHMARK(BM_SoundLevelMeterTick);

}  // namespace

BENCHMARK_MAIN();
