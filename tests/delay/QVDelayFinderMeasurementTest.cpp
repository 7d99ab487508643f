#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "delay/DelaySignals.h"
#include "delay/QVDelayFinder.h"
#include "engine/Fft.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

namespace qv {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int32_t kBlockFrames = 4410;  // 0.1 s, one tick's worth
constexpr int32_t kN = QVDelayFinder::kFftSize;

class DelayFinderMeasurement : public ::testing::Test {
 protected:
  void SetUp() override {
    finder = std::make_shared<QVDelayFinder>(0, 0, clock, /*ownTimer=*/false);
    finder->setInputChannelCountSamplingRateAudioDataTransport(2, kRate, {});
  }

  // Feeds one block, lets 0.1 s pass and ticks, as the recorder and the timer would.
  void run(test::DelayedNoise& signal, int ticks, int32_t frames = kBlockFrames) {
    for (int t = 0; t < ticks; ++t) {
      const auto block = signal.block(frames);
      finder->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
      clock->advance(static_cast<double>(frames) / finder->samplingRate());
      ASSERT_TRUE(finder->processTick());
    }
  }

  // The impulse as the radix-2 engine defines it: H_k (window 1) at input position
  // N − 1 − k, zeros below, forward transform, real parts.
  std::vector<float> impulseByDefinition() const {
    const DelayFinder& d = finder->finder();
    Fft engine(kN, static_cast<int32_t>(kRate), 0);
    for (int32_t k = 0; k < d.half; ++k) {
      const float pxx = d.power[2 * static_cast<size_t>(k)];
      const size_t at = 2 * static_cast<size_t>(engine.BitReverse[static_cast<size_t>(kN - 1 - k)]);
      engine.Work[at] = pxx > 0 ? d.cross[2 * static_cast<size_t>(k)] / pxx : 0.0f;
      engine.Work[at + 1] = pxx > 0 ? d.cross[2 * static_cast<size_t>(k) + 1] / pxx : 0.0f;
    }
    engine.Transform();
    std::vector<float> out(static_cast<size_t>(kN));
    for (int32_t m = 0; m < kN; ++m) out[static_cast<size_t>(m)] = engine.GetReal(m);
    return out;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<QVDelayFinder> finder;
};

struct LagCase {
  int32_t lag;         // samples the measurement lags the reference by
  int32_t peakIndex;   // where the impulse peaks: the lag, or N − lead for a lead
  float delaySeconds;  // lag / 44100
};

class DelayFinderLag : public DelayFinderMeasurement,
                       public ::testing::WithParamInterface<LagCase> {};

// 441 samples at 44100 Hz are 10 ms; a lead wraps to the top half of the impulse and is
// reported negative. A pure delay is fully coherent once the leading silence has left the
// window and the averages have settled (about 40 ticks here).
TEST_P(DelayFinderLag, FindsTheDelayWithHighCoherence) {
  const auto c = GetParam();
  test::DelayedNoise signal(c.lag, 7);
  run(signal, 40);
  const auto result = finder->lastResult();
  EXPECT_EQ(result.peakIndex, c.peakIndex);
  EXPECT_FLOAT_EQ(result.delay, c.delaySeconds);
  EXPECT_GT(result.meanCoherence, 0.9f);
  EXPECT_LE(result.meanCoherence, 1.0f + 1e-4f);
  EXPECT_EQ(result.points, kN);
}

INSTANTIATE_TEST_SUITE_P(Lags, DelayFinderLag,
                         ::testing::Values(LagCase{441, 441, 0.01f},
                                           LagCase{-441, kN - 441, -0.01f}, LagCase{0, 0, 0.0f},
                                           LagCase{1, 1, 1.0f / 44100.0f}));

// The impulse comes from a real inverse transform of half the bins; it must be what the
// radix-2 engine gives for the transfer function placed at positions N − 1 − k.
TEST_F(DelayFinderMeasurement, ImpulseMatchesTheEngineTransform) {
  test::DelayedNoise signal(300, 11);
  run(signal, 8);
  const auto expected = impulseByDefinition();
  const auto& impulse = finder->finder().impulse;
  float largest = 0;
  for (float v : expected) largest = std::max(largest, std::fabs(v));
  ASSERT_GT(largest, 1000.0f);  // a real peak, of the order of N/2
  for (int32_t m = 0; m < kN; ++m) {
    ASSERT_NEAR(impulse[static_cast<size_t>(m)], expected[static_cast<size_t>(m)], 1e-4f * largest)
        << m;
  }
  // What the caller receives is the same impulse scaled by 1/N.
  const auto result = finder->lastResult();
  for (int32_t m = 0; m < kN; m += 97) {
    ASSERT_FLOAT_EQ(result.impulse[m], impulse[static_cast<size_t>(m)] / kN) << m;
  }
}

// The peak is the first index of the largest magnitude, whichever block it lies in; NaN
// never wins (all NaN: index 0), an infinity does, and a negative value counts by its size.
TEST(DelayFinderPeak, FirstLargestMagnitudeWins) {
  DelayFinder d;
  d.setUp(1024, 1000);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto peakOf = [&d](std::initializer_list<std::pair<int, float>> values) {
    for (int m = 0; m < d.points; ++m) d.impulse[m] = 0.25f * std::sin(0.1f * m);
    for (const auto& [at, v] : values) d.impulse[at] = v;
    return d.findPeak();
  };
  EXPECT_EQ(peakOf({{700, -3.0f}, {900, 3.0f}, {20, 2.9f}}), 700);
  EXPECT_EQ(peakOf({{1023, 5.0f}, {3, nan}, {600, nan}}), 1023);
  EXPECT_FLOAT_EQ(d.delay, -0.001f);  // 1024 − 1023 samples early at 1 kHz
  EXPECT_EQ(peakOf({{300, 2.0f}, {301, -std::numeric_limits<float>::infinity()}}), 301);
  EXPECT_EQ(peakOf({{511, 1.0f}, {512, 1.0f}}), 511);
  EXPECT_FLOAT_EQ(d.delay, 0.511f);
  for (int m = 0; m < d.points; ++m) d.impulse[m] = nan;
  EXPECT_EQ(d.findPeak(), 0);
  for (int m = 0; m < d.points; ++m) d.impulse[m] = m == 77 ? -0.0f : 0.0f;
  EXPECT_EQ(d.findPeak(), 0);
}

// Silence has no transfer function: every impulse value is exactly 0, so the first
// index wins (delay 0), and no coherence is counted. Nothing may turn into NaN.
TEST_F(DelayFinderMeasurement, SilenceGivesZeroDelayAndNoNaN) {
  std::vector<float> silence(2 * static_cast<size_t>(kBlockFrames), 0.0f);
  int delivered = 0;
  float seenDelay = -1, seenCoherence = -1;
  bool finite = true;
  finder->startWithResultBlockErrorBlock(
      [&](const float* impulse, int32_t count, float delay, float coherence) {
        ++delivered;
        seenDelay = delay;
        seenCoherence = coherence;
        for (int32_t m = 0; m < count; ++m) finite = finite && impulse[m] == 0.0f;
      },
      nullptr);
  for (int t = 0; t < 5; ++t) {
    finder->getData(silence.data(), static_cast<uint32_t>(silence.size() * sizeof(float)));
    clock->advance(0.1);
    ASSERT_TRUE(finder->processTick());
    dispatch::mainQueue().drain();
  }
  EXPECT_EQ(delivered, 5);
  EXPECT_TRUE(finite);
  EXPECT_EQ(seenDelay, 0.0f);
  EXPECT_EQ(seenCoherence, 0.0f);
  EXPECT_EQ(finder->lastResult().peakIndex, 0);
}

// A new rate starts the averages afresh: a single pair of spectra is always fully
// coherent, while independent channels averaged over several ticks are not. The same rate
// announced again keeps the averages.
TEST_F(DelayFinderMeasurement, NewRateRestartsTheAverages) {
  test::DelayedNoise independent(0, 5, /*independent=*/true);
  run(independent, 12);
  const float averaged = finder->lastResult().meanCoherence;
  EXPECT_LT(averaged, 0.85f);

  finder->setInputChannelCountSamplingRateAudioDataTransport(2, 48000, {});
  run(independent, 1);
  EXPECT_EQ(finder->finder().samplingRate, 48000);
  EXPECT_NEAR(finder->lastResult().meanCoherence, 1.0f, 1e-3f);

  finder->setInputChannelCountSamplingRateAudioDataTransport(2, 48000, {});
  run(independent, 1);
  EXPECT_LT(finder->lastResult().meanCoherence, 0.95f);
}

// The same lag at 48 kHz is reported on that rate's time scale: 480 / 48000 = 10 ms.
TEST_F(DelayFinderMeasurement, DelayUsesTheAnnouncedRate) {
  finder->setInputChannelCountSamplingRateAudioDataTransport(2, 48000, {});
  test::DelayedNoise signal(480, 3);
  run(signal, 30, 4800);
  EXPECT_EQ(finder->lastResult().peakIndex, 480);
  EXPECT_FLOAT_EQ(finder->lastResult().delay, 0.01f);
}

// A NaN and an infinity from a glitching driver are skipped while they pass through the
// window; the averages survive them, so the same delay comes back with no NaN anywhere.
TEST_F(DelayFinderMeasurement, NonFiniteSamplesDoNotPoisonTheAverages) {
  test::DelayedNoise signal(441, 13);
  run(signal, 30);
  auto glitch = signal.block(kBlockFrames);
  glitch[100] = std::numeric_limits<float>::quiet_NaN();
  glitch[301] = std::numeric_limits<float>::infinity();
  finder->getData(glitch.data(), static_cast<uint32_t>(glitch.size() * sizeof(float)));
  int skipped = 0;
  int produced = 0;
  for (int t = 0; t < 60; ++t) {
    const auto block = signal.block(kBlockFrames);
    finder->getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
    clock->advance(0.1);
    if (finder->processTick()) {
      ++produced;
    } else {
      ++skipped;
    }
  }
  EXPECT_GT(skipped, 0);
  EXPECT_GT(produced, 0);
  const auto result = finder->lastResult();
  EXPECT_EQ(result.peakIndex, 441);
  EXPECT_TRUE(std::isfinite(result.meanCoherence));
  EXPECT_GT(result.meanCoherence, 0.9f);
  for (int32_t m = 0; m < kN; ++m) ASSERT_TRUE(std::isfinite(result.impulse[m])) << m;
}

}  // namespace
}  // namespace qv
