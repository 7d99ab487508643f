// The spectrum views run on every display tick for hours: once set up, a tick must not
// allocate. Global operator new is counted on this thread while the views' ticks run.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/GroupDelayAnalyser.h"
#include "engine/SoundLevelMeter.h"
#include "engine/Spectrogram.h"
#include "engine/SpectrumAnalyser.h"
#include "engine/TFDataSource.h"
#include "engine/ViewSignals.h"
#include "platform/Clock.h"
#include "support/CountedAllocations.h"

namespace qv {
namespace {

TEST(ViewTickAllocationTest, ViewTicksAllocateNothing) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  constexpr uint32_t kRate = 48000;
  constexpr int32_t kN = 32768;
  auto clock = std::make_shared<ManualClock>();
  // A tone on both inputs, the measurement a little later, through the live data source.
  TFDataSource source(kRate, kN, 1.0f, 1100.0f, 0.1f, clock);
  source.setChannelsSwapped(true);
  const auto tone = test::sine(kN, 1000.0, 0.1, kRate);
  std::vector<float> block(2 * kRate / 30);

  SpectrumAnalyser::Settings rtaSettings;
  rtaSettings.bandsPerOctave = 48;
  rtaSettings.weighting = Weighting::A;
  SpectrumAnalyser rta(kN, kRate, rtaSettings, clock);
  Spectrogram::Settings spectrogramSettings;
  spectrogramSettings.octResolution = 96;
  spectrogramSettings.averagingMs = 100.0f;
  Spectrogram spectrogram(kN, kRate, 1.0 / 30.0, spectrogramSettings, clock);
  GroupDelayAnalyser groupDelay(kN, kRate, 96);
  SoundLevelMeter meter(kRate, Weighting::C, TimeWeighting::Slow);
  std::vector<float> column(static_cast<size_t>(spectrogram.rows()));

  long at = 0;
  const auto tick = [&](bool count) {
    for (size_t i = 0; i < block.size() / 2; ++i, ++at) {
      block[2 * i] = tone[static_cast<size_t>(at % kN)];
      block[2 * i + 1] = tone[static_cast<size_t>((at + 7) % kN)];
    }
    source.getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
    clock->advance(1.0 / 30.0);
    source.update(0.0);
    tCounting = count;
    const TFDataSource::FrameSpectra frame = source.frameSpectra();
    rta.process(frame.measurement, frame.reference, frame.fftSize);
    spectrogram.process(frame.measurement, frame.fftSize);
    groupDelay.process(source.averagedSpectra());
    meter.process(block.data(), block.size() / 2);
    const auto& history = *spectrogram.history();
    history.copyColumns(history.columnCount() - 1, column.data(), 1);
    tCounting = false;
  };
  for (int i = 0; i < 10; ++i) tick(false);
  for (int i = 0; i < 60; ++i) tick(true);
  EXPECT_EQ(gAllocations.load(), 0);
  EXPECT_TRUE(std::isfinite(rta.levels(0)[rta.bands().bandForFrequency(1000.0)]));  // real work
  EXPECT_EQ(spectrogram.history()->columnCount(), 70u);
}

}  // namespace
}  // namespace qv
