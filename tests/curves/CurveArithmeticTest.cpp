// Comparing, offsetting and averaging curves on the band axis.
#include <gtest/gtest.h>

#include <cmath>

#include "curves/BandAxis.h"
#include "curves/CurveAverage.h"
#include "curves/CurveCompare.h"

namespace qv::curves {
namespace {

constexpr float kBlank = BandCurves::kBlank;

BandCurves flat(std::size_t n, float db, float degrees, float coherence = 1.0f) {
  BandCurves c(n);
  c.magnitude.assign(n, db);
  c.phase.assign(n, degrees);
  c.coherence.assign(n, coherence * BandCurves::kCoherenceScale);
  return c;
}

TEST(CurveCompare, DifferenceIsInDbAndWrappedDegreesWithTheFirstCurvesCoherence) {
  BandCurves live = flat(4, -3.0f, 170.0f, 0.8f);
  BandCurves trace = flat(3, -6.0f, -170.0f, 0.2f);
  live.magnitude[1] = kBlank;  // blank in one: blank in the difference
  live.phase[1] = kBlank;
  BandCurves out;
  CurveCompare::difference(live, trace, out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_FLOAT_EQ(out.magnitude[0], 3.0f);
  EXPECT_FLOAT_EQ(out.phase[0], -20.0f);  // 170 − (−170) = 340, the short way −20
  EXPECT_FLOAT_EQ(out.coherence[0], 0.8f * 180.0f);
  EXPECT_TRUE(std::isnan(out.magnitude[1]) && std::isnan(out.phase[1]) &&
              std::isnan(out.coherence[1]));
  EXPECT_TRUE(std::isnan(out.magnitude[3]));  // past the end of the trace

  CurveCompare::difference(live, live, out);  // a curve against itself
  EXPECT_FLOAT_EQ(out.magnitude[0], 0.0f);
  EXPECT_FLOAT_EQ(out.phase[2], 0.0f);
}

// A delay is a linear phase at each band's own frequency: τ = 0.25 ms turns 1 kHz by −90°.
// Offsets applied and taken back leave the curve as it was, also for a delay of a second at
// 20 kHz, where 20 000 whole turns would swamp a single-precision phase.
TEST(CurveCompare, OffsetsRaiseTheLevelAndDelayAsExactLinearPhase) {
  const BandAxis axis(1100);
  BandCurves c = flat(1100, -10.0f, 0.0f);
  c.magnitude[5] = kBlank;
  CurveCompare::applyOffsets(c, 2.5, 0.25);
  EXPECT_FLOAT_EQ(c.magnitude[0], -7.5f);
  EXPECT_TRUE(std::isnan(c.magnitude[5]));
  for (std::size_t b = 0; b < 1100; b += 97) {
    const double expected = wrapDegrees(-360.0 * axis.frequency(b) * 0.25e-3);
    EXPECT_NEAR(wrapDegrees(c.phase[b] - expected), 0.0, 1e-3) << axis.frequency(b);
  }
  BandCurves d = flat(1100, 0.0f, 30.0f);
  CurveCompare::applyOffsets(d, 0.0, 1000.0);
  CurveCompare::applyOffsets(d, 0.0, -1000.0);
  for (std::size_t b = 0; b < 1100; ++b) ASSERT_NEAR(d.phase[b], 30.0f, 1e-3f) << b;
}

// Three takes of one system at 0, −6 and +6 dB: the power mean is
// 10·log10((1 + 0.2512 + 3.9811) / 3) = 2.4157 dB; the phase, alike in all, stays.
TEST(CurveAverage, MagnitudeIsThePowerMean) {
  const BandCurves a = flat(10, 0.0f, 30.0f);
  const BandCurves b = flat(10, -6.0f, 30.0f);
  const BandCurves c = flat(12, 6.0f, 30.0f);
  const CurveAverageResult result = CurveAverage::average({&a, &b, &c});
  ASSERT_EQ(result.curves.size(), 12u);  // as long as the longest
  EXPECT_NEAR(result.curves.magnitude[3], 2.4157, 1e-4);
  EXPECT_NEAR(result.curves.phase[3], 30.0, 1e-4);
  EXPECT_NEAR(result.curves.magnitude[11], 6.0, 1e-5);  // only the longest reaches here
  EXPECT_NEAR(result.phaseAgreement, 1.0, 1e-6);
}

// Two coherent takes at 30° and an incoherent one (coherence 0.05) at −90°. Weighted by
// coherence, 2·e^{j30°} + 0.05·e^{−j90°} = (1.732, 0.95) points at 28.74°; unweighted, the three
// unit phasors would sum to (√3, 0), 0°.
TEST(CurveAverage, PhaseIsTheCoherenceWeightedPhasorMean) {
  const BandCurves a = flat(4, 0.0f, 30.0f, 1.0f);
  const BandCurves b = flat(4, 0.0f, 30.0f, 1.0f);
  const BandCurves noisy = flat(4, 0.0f, -90.0f, 0.05f);
  const CurveAverageResult result = CurveAverage::average({&a, &b, &noisy});
  const double expected =
      std::atan2(2 * std::sin(M_PI / 6) - 0.05, 2 * std::cos(M_PI / 6)) * 180.0 / M_PI;
  EXPECT_NEAR(result.curves.phase[0], expected, 1e-4);
  EXPECT_NEAR(expected, 28.74, 0.01);
  EXPECT_NEAR(result.curves.coherence[0], (1.0 + 1.0 + 0.05) / 3 * 180.0, 1e-3);

  // All incoherent: no phase to speak of.
  const BandCurves z1 = flat(2, 0.0f, 10.0f, 0.0f);
  const BandCurves z2 = flat(2, 0.0f, 50.0f, 0.0f);
  EXPECT_TRUE(std::isnan(CurveAverage::average({&z1, &z2}).curves.phase[0]));
}

// Takes measured with delays 3 and 7 ms apart have phases that scatter above some 100 Hz:
// the median phasor length over the axis is 0.58 (computed with numpy), where aligned takes
// give 1.
TEST(CurveAverage, DifferentDelaysShowAsLowPhaseAgreement) {
  BandCurves a = flat(1100, 0.0f, 0.0f);
  BandCurves b = flat(1100, 0.0f, 0.0f);
  BandCurves c = flat(1100, 0.0f, 0.0f);
  CurveCompare::applyOffsets(b, 0.0, 3.0);
  CurveCompare::applyOffsets(c, 0.0, 7.0);
  EXPECT_NEAR(CurveAverage::average({&a, &b, &c}).phaseAgreement, 0.58f, 0.02f);
  EXPECT_NEAR(CurveAverage::average({&a, &a, &a}).phaseAgreement, 1.0f, 1e-6f);
}

}  // namespace
}  // namespace qv::curves
