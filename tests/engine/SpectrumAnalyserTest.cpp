#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedCapture.h"
#include "ViewSignals.h"
#include "engine/SpectrumAnalyser.h"
#include "engine/TFDataSource.h"
#include "platform/Clock.h"

namespace qv {
namespace {

constexpr int kN = 32768;

SpectrumAnalyser::Settings settingsWith(int32_t bandsPerOctave, AveragingModel averaging,
                                        Weighting weighting = Weighting::Z) {
  SpectrumAnalyser::Settings s;
  s.bandsPerOctave = bandsPerOctave;
  s.averaging = averaging;
  s.weighting = weighting;
  return s;
}

// A tone at a level in dBFS: a full-scale sine (amplitude 1) is 0 dBFS, so -20 dBFS is an
// amplitude of 0.1.
std::vector<float> tone(double frequency, double dbfs, uint32_t rate) {
  return test::sine(kN, frequency, std::pow(10.0, dbfs / 20.0), rate);
}

struct ToneCase {
  uint32_t rate;
  int32_t bandsPerOctave;
};

class SpectrumAnalyserTone : public ::testing::TestWithParam<ToneCase> {};

// Every resolution has a band centred on 1 kHz; the tone's power lies inside it (a 1/48
// octave is still ten bins wide there), so the band reads the tone's level, and no power
// leaks two bands away.
TEST_P(SpectrumAnalyserTone, OneKilohertzAtMinus20ReadsMinus20InItsBand) {
  const ToneCase c = GetParam();
  test::StreamFrames frames(c.rate, kN);
  SpectrumAnalyser rta(kN, c.rate, settingsWith(c.bandsPerOctave, SpectrumAveraging::none()));
  const auto signal = tone(1000.0, -20.0, c.rate);
  frames.analyseMono(signal.data());
  ASSERT_TRUE(rta.process(frames.measurement(), frames.reference(), kN));

  const int32_t band = rta.bands().bandForFrequency(1000.0);
  ASSERT_GE(band, 2);
  EXPECT_NEAR(rta.bands().centre(band), 1000.0, 1e-6);
  for (int input : {SpectrumAnalyser::kMeasurement, SpectrumAnalyser::kReference}) {
    EXPECT_NEAR(rta.levels(input)[band], -20.0, 0.1) << "input " << input;
    EXPECT_LT(rta.levels(input)[band - 2], -80.0);
    EXPECT_LT(rta.levels(input)[band + 2], -80.0);
    EXPECT_FALSE(rta.readsSpl(input));
  }
}

INSTANTIATE_TEST_SUITE_P(RatesAndResolutions, SpectrumAnalyserTone,
                         ::testing::Values(ToneCase{48000, 1}, ToneCase{48000, 6},
                                           ToneCase{48000, 48}, ToneCase{44100, 3},
                                           ToneCase{44100, 24}, ToneCase{96000, 12}),
                         [](const auto& info) {
                           return std::to_string(info.param.rate) + "Hz_1_" +
                                  std::to_string(info.param.bandsPerOctave);
                         });

// Pink noise holds equal power in every band of equal relative width. The periodic pink
// signal makes that exact rather than statistical, so the bands may stray only by what the
// analyser itself gets wrong.
TEST(SpectrumAnalyserTest, PinkNoiseReadsFlatInThirdAndWholeOctaves) {
  constexpr uint32_t kRate = 48000;
  constexpr size_t kPeriod = size_t{1} << 18;
  const auto pink = test::periodicPink(kPeriod, 7, 0.1);
  test::StreamFrames frames(kRate, kN);
  auto clock = std::make_shared<ManualClock>();
  SpectrumAnalyser third(kN, kRate, settingsWith(3, SpectrumAveraging::infinite()), clock);
  SpectrumAnalyser octave(kN, kRate, settingsWith(1, SpectrumAveraging::infinite()), clock);
  std::vector<float> frame(kN);
  for (size_t start = 0; start < kPeriod; start += kN / 4) {
    for (size_t i = 0; i < kN; ++i) frame[i] = pink[(start + i) % kPeriod];
    frames.analyseMono(frame.data());
    third.process(frames.measurement(), nullptr, kN);
    octave.process(frames.measurement(), nullptr, kN);
    clock->advance(1.0 / 30.0);
  }
  for (const SpectrumAnalyser* rta : {&third, &octave}) {
    const auto& levels = rta->levels(SpectrumAnalyser::kMeasurement);
    ASSERT_GE(levels.size(), 10u);
    const double mean = std::accumulate(levels.begin(), levels.end(), 0.0) / levels.size();
    for (size_t b = 0; b < levels.size(); ++b)
      EXPECT_NEAR(levels[b], mean, 0.1) << rta->bands().centre(static_cast<int32_t>(b))
                                        << " Hz at 1/" << rta->settings().bandsPerOctave;
  }
  EXPECT_NEAR(third.bands().centre(0), 19.95, 0.01);
  EXPECT_NEAR(third.bands().centre(third.bands().count() - 1), 19952.6, 0.1);
}

// The A weighting is applied bin by bin: a 100 Hz tone at -20 dBFS reads 19.1 dB lower
// (the weighting's value at 100 Hz); at 1 kHz A and C change nothing.
TEST(SpectrumAnalyserTest, WeightingIsAppliedToTheBands) {
  constexpr uint32_t kRate = 48000;
  test::StreamFrames frames(kRate, kN);
  SpectrumAnalyser rta(kN, kRate, settingsWith(3, SpectrumAveraging::none(), Weighting::A));
  const auto low = tone(100.0, -20.0, kRate);
  frames.analyseMono(low.data());
  rta.process(frames.measurement(), nullptr, kN);
  EXPECT_NEAR(rta.levels(0)[rta.bands().bandForFrequency(100.0)], -39.14, 0.1);

  auto settings = rta.settings();
  settings.weighting = Weighting::C;
  rta.setSettings(settings);
  const auto kilohertz = tone(1000.0, -20.0, kRate);
  frames.analyseMono(kilohertz.data());
  rta.process(frames.measurement(), nullptr, kN);
  EXPECT_NEAR(rta.levels(0)[rta.bands().bandForFrequency(1000.0)], -20.0, 0.1);
}

// The live data source hands its newest frame to the analyser by role: with the channels
// swapped, as the live model runs it, and without, the measurement input (-20 dBFS at
// 1 kHz) and the reference (-30 dBFS) read their own levels.
TEST(SpectrumAnalyserTest, ReadsTheDataSourcesFramesByRole) {
  constexpr uint32_t kRate = 48000;
  for (const bool swapped : {true, false}) {
    auto clock = std::make_shared<ManualClock>();
    TFDataSource source(kRate, kN, 1.0f, 1100.0f, 1.0f, clock);
    source.setChannelsSwapped(swapped);
    EXPECT_EQ(source.frameSpectra().measurement, nullptr);
    SpectrumAnalyser rta(kN, kRate, settingsWith(3, SpectrumAveraging::none()), clock);
    test::SimulatedCapture capture(*clock, source, kRate);
    capture.setSignal(test::interleave(test::sine(3 * kRate, 1000.0, 0.1, kRate),
                                       test::sine(3 * kRate, 1000.0, std::sqrt(0.001), kRate)));
    capture.run(2.5, 30.0, [&] {
      source.update(0.0);
      const TFDataSource::FrameSpectra frame = source.frameSpectra();
      rta.process(frame.measurement, frame.reference, frame.fftSize);
    });
    const int32_t band = rta.bands().bandForFrequency(1000.0);
    EXPECT_NEAR(rta.levels(SpectrumAnalyser::kMeasurement)[band], -20.0, 0.1) << swapped;
    EXPECT_NEAR(rta.levels(SpectrumAnalyser::kReference)[band], -30.0, 0.1) << swapped;
  }
}

class SpectrumAnalyserTime : public ::testing::Test {
 protected:
  static constexpr uint32_t kRate = 48000;
  static constexpr double kTick = 1.0 / 30.0;

  SpectrumAnalyserTime() : frames_(kRate, kN) {}

  // A 1 kHz frame at `dbfs` (or silence), processed after one tick.
  void feed(SpectrumAnalyser& rta, std::optional<double> dbfs) {
    const auto signal = dbfs ? tone(1000.0, *dbfs, kRate) : std::vector<float>(kN, 0.0f);
    frames_.analyseMono(signal.data());
    rta.process(frames_.measurement(), frames_.reference(), kN);
    clock_->advance(kTick);
  }
  float level(const SpectrumAnalyser& rta) const {
    return rta.levels(0)[rta.bands().bandForFrequency(1000.0)];
  }
  float peak(const SpectrumAnalyser& rta) const {
    return rta.peaks(0)[rta.bands().bandForFrequency(1000.0)];
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  test::StreamFrames frames_;
};

// An exponential average starts as the mean of what it has, not as a rise from silence:
// a frame at -20 dBFS and one at -40 hold (1 + 0.01) / 2 of the first one's power,
// -22.97 dBFS. Later it forgets with its time constant: after a step from 1 to 0.01 it
// holds 0.01 + 0.99·e^(-t/τ) of the old power, -24.27 dBFS after t = τ = 1 s.
TEST_F(SpectrumAnalyserTime, ExponentialAveragingStartsAsTheMeanThenFollowsItsTimeConstant) {
  SpectrumAnalyser rta(kN, kRate, settingsWith(3, SpectrumAveraging::exponential(1.0)), clock_);
  feed(rta, -20.0);
  EXPECT_NEAR(level(rta), -20.0, 0.1);
  feed(rta, -40.0);
  EXPECT_NEAR(level(rta), -22.97, 0.1);
  for (int i = 0; i < 300; ++i) feed(rta, -20.0);
  EXPECT_NEAR(level(rta), -20.0, 0.1);
  for (int i = 0; i < 30; ++i) feed(rta, -40.0);
  const double expected = -20.0 + 10.0 * std::log10(0.01 + 0.99 * std::exp(-30 * kTick / 1.0));
  EXPECT_NEAR(level(rta), expected, 0.1);
  EXPECT_NEAR(peak(rta), -20.0, 0.1);
}

// The infinite average is the mean power since the reset: a loud frame and a silent one
// average to half the power, -3.01 dB; after a reset only the new frames count.
TEST_F(SpectrumAnalyserTime, InfiniteAveragingIsTheMeanSinceTheReset) {
  SpectrumAnalyser rta(kN, kRate, settingsWith(6, SpectrumAveraging::infinite()), clock_);
  for (int i = 0; i < 10; ++i) {
    feed(rta, -20.0);
    feed(rta, std::nullopt);
  }
  EXPECT_NEAR(level(rta), -23.01, 0.1);
  rta.resetAverages();
  feed(rta, -30.0);
  EXPECT_NEAR(level(rta), -30.0, 0.1);
}

// Peaks hold the highest level each band has shown until they are reset; the levels move on.
TEST_F(SpectrumAnalyserTime, PeakHoldKeepsTheHighestLevelUntilReset) {
  SpectrumAnalyser rta(kN, kRate, settingsWith(12, SpectrumAveraging::none()), clock_);
  feed(rta, -20.0);
  feed(rta, -40.0);
  EXPECT_NEAR(level(rta), -40.0, 0.1);
  EXPECT_NEAR(peak(rta), -20.0, 0.1);
  rta.resetPeaks();
  EXPECT_TRUE(std::isinf(peak(rta)));
  feed(rta, -40.0);
  EXPECT_NEAR(peak(rta), -40.0, 0.1);
}

// dB SPL needs a calibration: without one the input keeps reading dBFS and says so; with
// one, the calibrator's level reads back, and the peaks held in dBFS are dropped.
TEST_F(SpectrumAnalyserTime, SplUnitsNeedTheInputsCalibration) {
  auto settings = settingsWith(3, SpectrumAveraging::none());
  settings.splUnits = true;
  SpectrumAnalyser rta(kN, kRate, settings, clock_);
  rta.setCalibrationOffset(SpectrumAnalyser::kMeasurement, 114.0);
  feed(rta, -20.0);
  EXPECT_TRUE(rta.readsSpl(SpectrumAnalyser::kMeasurement));
  EXPECT_FALSE(rta.readsSpl(SpectrumAnalyser::kReference));
  EXPECT_NEAR(level(rta), 94.0, 0.1);
  EXPECT_NEAR(rta.levels(SpectrumAnalyser::kReference)[rta.bands().bandForFrequency(1000.0)], -20.0,
              0.1);

  rta.setCalibrationOffset(SpectrumAnalyser::kMeasurement, std::nullopt);
  EXPECT_FALSE(rta.readsSpl(SpectrumAnalyser::kMeasurement));
  EXPECT_TRUE(std::isinf(peak(rta)));
  feed(rta, -20.0);
  EXPECT_NEAR(level(rta), -20.0, 0.1);
}

// A frame of another length than the analyser's is refused and changes nothing; a
// disabled input is left as it was; a new resolution re-lays the bands.
TEST_F(SpectrumAnalyserTime, RefusesOtherFramesAndFollowsItsSettings) {
  auto settings = settingsWith(3, SpectrumAveraging::none());
  settings.enabled = {true, false};
  SpectrumAnalyser rta(kN, kRate, settings, clock_);
  feed(rta, -20.0);
  EXPECT_TRUE(std::isinf(rta.levels(SpectrumAnalyser::kReference)[20]));
  EXPECT_FALSE(rta.process(frames_.measurement(), frames_.reference(), kN / 2));
  EXPECT_NEAR(level(rta), -20.0, 0.1);

  settings.bandsPerOctave = 24;
  rta.setSettings(settings);
  EXPECT_EQ(rta.levels(0).size(), static_cast<size_t>(rta.bands().count()));
  EXPECT_GT(rta.bands().count(), 230);
  feed(rta, -30.0);
  EXPECT_NEAR(level(rta), -30.0, 0.1);
}

}  // namespace
}  // namespace qv
