#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "SimulatedCapture.h"
#include "engine/TFDataSource.h"
#include "support/LogCapture.h"

namespace qv {
namespace {

class TFDataSourceTest : public ::testing::Test {
 protected:
  std::shared_ptr<TFDataSource> make(float fftSize, float avgCoef = 1.0f, uint32_t rate = 44100) {
    return std::make_shared<TFDataSource>(rate, fftSize, 1.0f, 1100.0f, avgCoef, clock_);
  }
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  test::LogCapture log_;
};

// A block larger than the free space keeps its first free-space bytes, logs "AAAAA" once,
// and the ring never holds more than its length.
TEST_F(TFDataSourceTest, OverflowKeepsOnlyWhatFits) {
  auto source = make(256);  // ring of 5120 bytes requested: one 8 KiB page here
  const ByteRing& ring = source->circularBuffer();
  const int32_t free = ring.length - ring.fill();
  std::vector<float> block(2 * 1000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<float>(i + 1);
  ASSERT_GT(8000, free);
  source->getData(block.data(), 8000);
  EXPECT_EQ(log_.count("AAAAA"), 1);
  EXPECT_EQ(ring.fill(), ring.length);
  const int32_t start = ring.length - free;
  EXPECT_EQ(std::memcmp(ring.buffer + start, block.data(), static_cast<size_t>(free)), 0);

  source->getData(block.data(), 8);  // a full ring takes nothing more
  EXPECT_EQ(log_.count("AAAAA"), 2);
  EXPECT_EQ(ring.fill(), ring.length);
}

// A clear ring: nothing to push, nothing to consume; right after a reset the averages are
// the newest frame alone, here silence, so every bin is exactly 0.
TEST_F(TFDataSourceTest, EmptyRingPushesNothingAndResetTakesNewestFrame) {
  auto source = make(1024, 0.1f);
  test::SimulatedCapture capture(*clock_, *source, 44100);
  capture.setSignal(test::interleave(test::noise(44100, 1), test::noise(44100, 2)));
  capture.run(0.9, 30.0, [&] { source->update(0.0); });
  ASSERT_GT(source->averagedSpectra().powerA[10], 0.0f);

  source->circularBuffer().clear();
  source->resetAverages();
  clock_->advance(1.0 / 30);
  source->update(0.0);
  EXPECT_EQ(source->circularBuffer().fill(), 0);
  const TFDataSource::AveragedSpectra s = source->averagedSpectra();
  for (int32_t k = 0; k < s.bins; ++k) {
    ASSERT_EQ(s.powerA[k], 0.0f) << k;
    ASSERT_EQ(s.powerB[k], 0.0f) << k;
    ASSERT_EQ(s.crossRe[k], 0.0f) << k;
  }
}

// Live configuration: blocks of 125 ms, updates at 30 Hz. The advance is scaled by
// 1.5 · fill / length, so the fill settles where that factor is 1: two thirds of the ring.
// Every consumption is a whole number of frames, and the first (measured from time 0)
// is still bounded by one FFT length times the factor.
TEST_F(TFDataSourceTest, RateControlSettlesNearTwoThirds) {
  auto source = make(32768);
  const ByteRing& ring = source->circularBuffer();
  test::SimulatedCapture capture(*clock_, *source, 44100);
  capture.setSignal(test::interleave(test::noise(44100 * 20, 3), test::noise(44100 * 20, 4)));

  bool first = true;
  double fillSum = 0.0;
  int samples = 0;
  int updates = 0;
  capture.run(20.0, 30.0, [&] {
    const int32_t before = ring.fill();
    source->update(0.0);
    const int32_t consumed = before - ring.fill();
    ASSERT_EQ(consumed % 8, 0);
    ASSERT_GE(consumed, 0);
    if (first) {
      EXPECT_LE(consumed, 8 * 32768 * 1.5 * before / ring.length);
      EXPECT_GT(consumed, 0);
      first = false;
    }
    // The fill the rate control sees, averaged over the last 5 s (it saw-tooths per block).
    if (++updates > 450) {
      fillSum += static_cast<double>(before) / ring.length;
      ++samples;
    }
  });
  EXPECT_NEAR(fillSum / samples, 2.0 / 3.0, 0.01);
}

// With c = 0.1 the new-frame weight falls by (1 - c) / 10 per successful update:
// 1, 0.91, 0.82, … 0.1 after ten, then stays.
TEST_F(TFDataSourceTest, AveragingWeightSlidesOverTenUpdates) {
  auto source = make(256, 1.0f);
  source->setAveragingCoeficient(0.1f);
  EXPECT_EQ(source->avgNew(), 1.0f);
  for (int i = 1; i <= 12; ++i) {
    clock_->advance(1.0 / 30);
    source->update(0.0);
    EXPECT_NEAR(source->avgNew(), std::max(0.1, 1.0 - 0.09 * i), 1e-5) << i;
  }
  source->resetAverages();
  EXPECT_EQ(source->avgNew(), 1.0f);
}

// A clock that runs a hook when the update reads it: after the update has read its weight
// and before it accumulates and slides, the window in which a reset from the controlling
// thread can land.
class HookedClock final : public Clock {
 public:
  double now() const override {
    if (hook) std::exchange(hook, nullptr)();
    return clock.now();
  }
  ManualClock clock;
  mutable std::function<void()> hook;
};

// With c = 0.1 and the weight settled, a reset that lands inside an update must still
// restart the averages: the next update takes its frame alone (weight 1), so the buffers
// equal that frame exactly, whatever they held before.
TEST_F(TFDataSourceTest, AResetLandingInsideAnUpdateIsNotLost) {
  auto clock = std::make_shared<HookedClock>();
  auto source = std::make_shared<TFDataSource>(44100, 256.0f, 1.0f, 1100.0f, 0.1f, clock);
  const std::vector<float> loud(2 * 256, 0.5f), quiet(2 * 256, 0.0f);
  for (int i = 0; i < 12; ++i) {
    source->circularBuffer().clear();
    source->getData(loud.data(), 8 * 256);
    clock->clock.advance(1.0 / 30);
    source->update(0.0);
  }
  ASSERT_FLOAT_EQ(source->avgNew(), 0.1f);
  ASSERT_GT(source->inputPowerSpectraBuffer()[0], 0.0f);

  clock->hook = [&] { source->resetAverages(); };
  clock->clock.advance(1.0 / 30);
  source->update(0.0);
  EXPECT_EQ(source->avgNew(), 1.0f);  // not slid to 0.91 by the update it landed in

  source->circularBuffer().clear();
  source->getData(quiet.data(), 8 * 256);
  clock->clock.advance(1.0 / 30);
  source->update(0.0);
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(source->inputPowerSpectraBuffer()[4 * k], 0.0f) << k;
    ASSERT_EQ(source->ioCrossDensityBuffer()[4 * k], 0.0f) << k;
  }
  EXPECT_FLOAT_EQ(source->avgNew(), 0.91f);
}

// A stream that cannot be created (no rate) makes every FFT request fail: the failure is
// logged, the weight does not slide and the averages stay as they are.
TEST_F(TFDataSourceTest, FailedUpdateNeitherAveragesNorSlides) {
  auto source = make(256, 0.5f, 0);
  EXPECT_EQ(source->fftChannel(), nullptr);
  EXPECT_EQ(log_.count("Error creating fft channel: 6"), 1);
  EXPECT_EQ(log_.count("Error creating delay line effect: 6"), 1);
  std::vector<float> block(2 * 256, 0.5f);
  source->getData(block.data(), 8 * 256);
  for (int i = 0; i < 3; ++i) {
    clock_->advance(0.1);
    source->update(0.0);
  }
  EXPECT_EQ(log_.count("Error in fft channel: 5"), 3);
  EXPECT_EQ(source->avgNew(), 1.0f);
  EXPECT_EQ(source->inputPowerSpectraBuffer()[0], 0.0f);
  // Settings on the missing stream fail quietly (the swap is only remembered).
  source->setChannelsSwapped(true);
  EXPECT_TRUE(source->channelsSwapped());
}

// Both channels share one transform; a silent channel's share of it is the rounding of the
// other's, which must not become a spectrum: a dead microphone or reference input has no
// power and no cross spectrum at all (so the curves are blanked), while the live channel
// keeps its power as when its partner is merely quiet.
class SilentChannelTest : public TFDataSourceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SilentChannelTest, SilentChannelHasNoPowerAndNoCross) {
  const bool measurementSilent = GetParam();
  const std::vector<float> loud = test::noise(44100, 3);
  const std::vector<float> silence(loud.size(), 0.0f);
  const std::vector<float> quiet(loud.size(), 1e-30f);
  auto run = [&](const std::vector<float>& other) {
    auto source = make(4096);
    test::SimulatedCapture capture(*clock_, *source, 44100);
    capture.setSignal(measurementSilent ? test::interleave(other, loud)
                                        : test::interleave(loud, other));
    capture.run(0.5, 30.0, [&] { source->update(0.0); });
    return source;
  };
  const auto silent = run(silence);
  const auto reference = run(quiet);
  const TFDataSource::AveragedSpectra s = silent->averagedSpectra();
  const TFDataSource::AveragedSpectra r = reference->averagedSpectra();
  // Not swapped: stream channel 1 (A) is the measurement.
  const float* silentPower = measurementSilent ? s.powerA : s.powerB;
  const float* livePower = measurementSilent ? s.powerB : s.powerA;
  const float* liveReference = measurementSilent ? r.powerB : r.powerA;
  for (int32_t k = 0; k < s.bins; ++k) {
    ASSERT_EQ(silentPower[k], 0.0f) << k;
    ASSERT_EQ(s.crossRe[k], 0.0f) << k;
    ASSERT_EQ(s.crossIm[k], 0.0f) << k;
    ASSERT_NEAR(livePower[k], liveReference[k], 1e-5f * liveReference[k] + 1e-12f) << k;
  }
  ASSERT_GT(livePower[100], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(EitherChannel, SilentChannelTest, ::testing::Bool());

// The averages are computed for bins 0 … N/2; the four-floats-per-bin layout derived from
// them must be what averaging every bin gives: the same lower half, the upper half mirrored
// and conjugated, oi the conjugate of io. A reader that arrives late sees exactly what one
// that read from the start sees, every later update keeps both current, and a layout once
// read follows a new FFT size over all its bins.
TEST_F(TFDataSourceTest, FullLayoutMirrorsTheCompactAveragesWheneverItIsRead) {
  auto lateClock = std::make_shared<ManualClock>();
  auto early = make(1024, 0.2f);
  auto late = std::make_shared<TFDataSource>(44100, 1024, 1.0f, 1100.0f, 0.2f, lateClock);
  const auto signal = test::interleave(test::noise(2 * 44100, 5), test::noise(2 * 44100, 6));
  for (auto* source : {early.get(), late.get()}) {
    source->setChannelsSwapped(true);
    source->setDelayLeftAndRight(0.0f, 2.0f);
  }
  const float* earlyPower = early->inputPowerSpectraBuffer();
  const float* earlyIo = early->ioCrossDensityBuffer();
  const float* earlyOi = early->oiCrossDensityBuffer();
  test::SimulatedCapture earlyCapture(*clock_, *early, 44100);
  test::SimulatedCapture lateCapture(*lateClock, *late, 44100);
  earlyCapture.setSignal(signal);
  lateCapture.setSignal(signal);
  const auto runBoth = [&](double seconds) {
    earlyCapture.run(seconds, 30.0, [&] { early->update(0.0); });
    lateCapture.run(seconds, 30.0, [&] { late->update(0.0); });
  };
  const auto check = [&](int n) {
    const float* latePower = late->inputPowerSpectraBuffer();
    const float* lateIo = late->ioCrossDensityBuffer();
    const float* lateOi = late->oiCrossDensityBuffer();
    const TFDataSource::AveragedSpectra half = early->averagedSpectra();
    ASSERT_EQ(half.bins, n / 2 + 1);
    ASSERT_GT(half.powerA[n / 4], 0.0f);
    for (int k = 0; k < n; ++k) {
      const int m = k <= n / 2 ? k : n - k;
      const float sign = k <= n / 2 ? 1.0f : -1.0f;
      ASSERT_EQ(earlyPower[4 * k], half.powerA[m]) << k;
      ASSERT_EQ(earlyPower[4 * k + 1], half.powerB[m]) << k;
      ASSERT_EQ(earlyIo[4 * k], half.crossRe[m]) << k;
      ASSERT_EQ(earlyIo[4 * k + 1], sign * half.crossIm[m]) << k;
      ASSERT_EQ(earlyOi[4 * k], half.crossRe[m]) << k;
      ASSERT_EQ(earlyOi[4 * k + 1], -sign * half.crossIm[m]) << k;
      for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(latePower[4 * k + i], earlyPower[4 * k + i]) << k;
        ASSERT_EQ(lateIo[4 * k + i], earlyIo[4 * k + i]) << k;
        ASSERT_EQ(lateOi[4 * k + i], earlyOi[4 * k + i]) << k;
      }
    }
  };
  runBoth(0.7);
  check(1024);
  runBoth(0.2);
  check(1024);

  for (auto* source : {early.get(), late.get()}) source->setFftInputSize(4096);
  runBoth(0.5);
  earlyPower = early->inputPowerSpectraBuffer();
  earlyIo = early->ioCrossDensityBuffer();
  earlyOi = early->oiCrossDensityBuffer();
  check(4096);
}

using TFDataSourceDeathTest = TFDataSourceTest;

TEST_F(TFDataSourceDeathTest, ProgrammingErrorsStop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto source = make(256);
  EXPECT_DEATH(source->setInputChannelCountSamplingRateAudioDataTransport(3, 44100, {}),
               "inputChannelCount == 2");
  EXPECT_DEATH(source->setAveragingCoeficient(0.0f), "avgCoef <= 1.0f && avgCoef > 0.0f");
  EXPECT_DEATH(source->setAveragingCoeficient(1.5f), "avgCoef <= 1.0f && avgCoef > 0.0f");
  EXPECT_DEATH(source->setFftInputSize(1000), "0");
}

}  // namespace
}  // namespace qv
