// The views beside the transfer function, run by a driven session on its display tick:
// each engine sees the right input, its results come out in the snapshots only while its
// view is shown, the group delay carries the compensated delay back, and a calibration
// turns the meter and the spectrum into dB SPL.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "delay/DelaySignals.h"
#include "session/AnalysisViews.h"
#include "session/MeasurementSession.h"

namespace qv::session {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int32_t kBlock = 5513;  // 125 ms

class AnalysisViewsTest : public ::testing::Test {
 protected:
  AnalysisViewsTest() : session_(config()) { session_.announce(kRate); }

  MeasurementSession::Config config() {
    MeasurementSession::Config c;
    c.driven = true;
    c.clock = clock_;
    c.sampleRate = kRate;
    c.averagingIndex = 100.0f;
    return c;
  }

  // Blocks of `signal` (interleaved measurement, reference) every 125 ms, four display
  // ticks after each.
  void run(double seconds, const std::function<std::vector<float>(int32_t)>& signal) {
    for (int b = 0; b < static_cast<int>(seconds * 8); ++b) {
      const std::vector<float> block = signal(kBlock);
      session_.deliverToDisplay(block.data(), kBlock);
      for (int t = 0; t < 4; ++t) {
        clock_->advance(0.03125);
        session_.displayTick();
      }
    }
  }

  // Sines: the measurement at `fm` Hz and amplitude `am`, the reference at `fr` and `ar`.
  std::function<std::vector<float>(int32_t)> sines(double fm, double am, double fr, double ar) {
    return [=, this](int32_t frames) {
      std::vector<float> out(2 * static_cast<size_t>(frames));
      for (int32_t f = 0; f < frames; ++f, ++position_) {
        const double t = static_cast<double>(position_) / kRate;
        out[2 * f] = static_cast<float>(am * std::sin(2.0 * std::numbers::pi * fm * t));
        out[2 * f + 1] = static_cast<float>(ar * std::sin(2.0 * std::numbers::pi * fr * t));
      }
      return out;
    };
  }

  // The RTA level of `input` in the band centred nearest to `hz`.
  static float rtaAt(const ViewsSnapshot& s, int input, double hz) {
    const double step = (s.rta.lastLog - s.rta.firstLog) / (s.rta.count - 1);
    const auto band = static_cast<size_t>(std::lround((std::log10(hz) - s.rta.firstLog) / step));
    return s.rta.levels[static_cast<size_t>(input)][band];
  }

  AnalysisViews& views() { return session_.views(); }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  MeasurementSession session_;
  int64_t position_ = 0;
};

TEST_F(AnalysisViewsTest, SpectrumReadsEachInputInItsRoleAndOnlyWhileShown) {
  // A 1 kHz sine at -20 dBFS on the measurement, 125 Hz at -40 dBFS on the reference.
  const auto signal = sines(1000.0, 0.1, 125.0, 0.01);
  run(1.0, signal);
  EXPECT_EQ(views().pool().published(), 0u) << "hidden views publish nothing";

  AnalysisViews::Config c;
  c.rta.shown = true;
  c.rta.settings.bandsPerOctave = 3;
  views().configure(c);
  run(3.0, signal);
  auto s = views().latest();
  ASSERT_TRUE(s && s->rta.shown);
  EXPECT_EQ(s->rta.bandsPerOctave, 3);
  // Each input in its role; the analyser's own figures are checked where it is.
  EXPECT_NEAR(rtaAt(*s, 0, 1000.0), -20.0, 0.1);
  EXPECT_NEAR(rtaAt(*s, 1, 125.0), -40.0, 0.1);
  EXPECT_LT(rtaAt(*s, 1, 1000.0), -70.0);
  EXPECT_LT(rtaAt(*s, 0, 125.0), -70.0);
  EXPECT_FALSE(s->groupDelay.shown);
  EXPECT_FALSE(s->spectrogram.shown);

  c.rta.shown = false;
  views().configure(c);
  const uint64_t published = views().pool().published();
  s = {};
  run(0.5, signal);
  EXPECT_EQ(views().pool().published(), published);
}

TEST_F(AnalysisViewsTest, GroupDelayAddsTheCompensatedDelayBackWhenAsked) {
  // The measurement lags the reference by 441 samples (10 ms); the session compensates it.
  test::DelayedNoise noise(441, 5);
  const auto signal = [&](int32_t frames) { return noise.block(frames); };
  ASSERT_TRUE(session_.setDelayMs(10.0f));
  AnalysisViews::Config c;
  c.groupDelay.shown = true;
  views().configure(c);
  run(6.0, signal);

  const auto check = [&](double expectedMs) {
    const auto s = views().latest();
    ASSERT_TRUE(s && s->groupDelay.shown);
    const LinToLogTransformer& axis = session_.axis();
    int checked = 0;
    for (int32_t b = 0; b < axis.bandCount(); ++b) {
      const float f = axis.frequencyForBandIndex(static_cast<float>(b));
      if (f < 200.0f || f > 10000.0f) continue;
      ASSERT_NEAR(s->groupDelay.values[static_cast<size_t>(b)], expectedMs, 0.1) << f << " Hz";
      ++checked;
    }
    EXPECT_GT(checked, 500);
  };
  check(10.0);
  c.groupDelay.includesCompensation = false;
  views().configure(c);
  run(0.125, signal);
  check(0.0);
}

TEST_F(AnalysisViewsTest, CalibrationTurnsTheMeterAndTheSpectrumIntoSoundPressureLevels) {
  // A calibrator's 1 kHz tone arriving at -26.02 dBFS (amplitude 0.05) on the measurement.
  const auto signal = sines(1000.0, 0.05, 1000.0, 0.0);
  AnalysisViews::Config c;
  c.level.shown = true;
  views().configure(c);
  run(2.0, signal);
  const uint64_t serial = views().calibrate(0, {94.0, 1000.0, 2.0});
  run(3.0, signal);
  auto s = views().latest();
  ASSERT_EQ(s->calibration.serial, serial);
  ASSERT_EQ(s->calibration.status, SplCalibrator::Status::Done);
  EXPECT_NEAR(s->calibration.offsetDb, 94.0 - 20.0 * std::log10(0.05), 0.05);

  c.calibration[0] = s->calibration.offsetDb;
  c.rta.shown = true;
  c.rta.settings.splUnits = true;
  s = {};
  views().configure(c);
  run(2.0, signal);
  s = views().latest();
  EXPECT_NEAR(s->level.readings[0].level, 94.0, 0.1);
  EXPECT_TRUE(s->level.readings[0].splUnits);
  EXPECT_FALSE(s->level.readings[1].splUnits) << "the reference has no calibration";
  EXPECT_TRUE(s->rta.spl[0]);
  EXPECT_FALSE(s->rta.spl[1]);
  EXPECT_NEAR(rtaAt(*s, 0, 1000.0), 94.0, 0.1);
}

TEST_F(AnalysisViewsTest, SpectrogramGetsOneColumnPerTickAndANewHistoryWhenShownAgain) {
  const auto signal = sines(1000.0, 0.1, 1000.0, 0.1);
  AnalysisViews::Config c;
  c.spectrogram.shown = true;
  views().configure(c);
  run(1.0, signal);
  auto s = views().latest();
  ASSERT_TRUE(s && s->spectrogram.shown && s->spectrogram.history);
  const auto first = s->spectrogram.history;
  EXPECT_EQ(first->columnCount(), 32u);  // eight blocks, four ticks each

  c.spectrogram.shown = false;
  views().configure(c);
  c.spectrogram.shown = true;
  views().configure(c);
  s = {};
  run(0.25, signal);
  s = views().latest();
  EXPECT_NE(s->spectrogram.history, first);
  EXPECT_EQ(s->spectrogram.history->columnCount(), 8u);
  EXPECT_EQ(first->columnCount(), 32u) << "the old history stays as it was for its readers";
}

}  // namespace
}  // namespace qv::session
