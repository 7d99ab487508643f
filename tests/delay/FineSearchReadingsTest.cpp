// The delay finder's readings of a delay heard through uncorrelated noise of the same
// power: the coherence, where the coherent power ends, and the delay itself, with and
// without the coherence weighting.
#include <gtest/gtest.h>

#include "delay/KnownRecordings.h"

namespace qv {
namespace {

namespace known = test::known;

class HalfCoherent : public ::testing::TestWithParam<bool> {};

// The measurement is the reference 2.25 ms later plus independent white noise of the same
// power: in every bin the coherence is 1/2, and the estimate reads above it by about
// (1 − γ²)²/N, N ≈ 4 frames' worth of independent memory (the averages' weight is 0.3 a tick
// and the windows of successive ticks overlap), so 0.56 or so. The coherent power is as
// flat as the noise over the bins that take part (from bin 2 up to 0.47 of the rate), so
// 95 % of it lies below 0.95 · 0.47 · 44100 Hz ≈ 19.7 kHz. The noise moves the delay by a
// hundredth of a sample at most.
TEST_P(HalfCoherent, ReadsCoherenceTopOfBandAndDelay) {
  constexpr uint32_t kRate = 44100;
  const double lag = 0.00225 * kRate;
  const size_t count = 6 * kRate;
  const auto reference = known::referenceNoise(count, 5, known::Colour::White);
  const auto noise = known::referenceNoise(count, 6, known::Colour::White);
  auto measurement = known::delayed(reference, lag);
  for (size_t i = 0; i < count; ++i) measurement[i] += noise[i];
  DelaySearch::Settings settings;
  settings.coherenceWeighting = GetParam();
  test::LocatorRun run(kRate, settings);
  int seen = 0;
  run.run(known::interleave(measurement, reference), [&](const DelayEstimate& e, double t) {
    if (t < 3.0) return;
    ++seen;
    ASSERT_EQ(e.state, DelayState::Found) << t;
    EXPECT_NEAR(e.delaySamples, lag, 0.02) << t;
    EXPECT_NEAR(e.meanCoherence, 0.56, 0.03) << t;
    EXPECT_NEAR(e.topFrequencyHz, 0.95 * 0.47 * kRate, 0.01 * kRate) << t;
  });
  EXPECT_GT(seen, 20);
}

INSTANTIATE_TEST_SUITE_P(Weighting, HalfCoherent, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ByCoherence" : "Flat"; });

}  // namespace
}  // namespace qv
