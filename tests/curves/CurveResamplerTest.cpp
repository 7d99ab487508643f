// Curves from other grids onto the band axis: the axis is the live analysis's own, a curve
// written from a trace reads back as it was, and curves on other grids are interpolated in
// log frequency with their phase unwrapped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "curves/BandAxis.h"
#include "curves/CurveImport.h"
#include "curves/CurveResampler.h"
#include "engine/LinToLogTransformer.h"

namespace qv::curves {
namespace {

class BandAxisRates : public ::testing::TestWithParam<std::int64_t> {};

// The trace's bands must be the very frequencies the live analysis draws them at.
TEST_P(BandAxisRates, IsTheLiveAnalysisAxis) {
  const LinToLogTransformer live(nullptr, 32768, GetParam(), BandAxis::kOctResolution);
  const BandAxis axis = BandAxis::forSampleRate(GetParam());
  ASSERT_EQ(axis.bandCount(), static_cast<std::size_t>(live.bandCount()));
  for (std::size_t b = 0; b < axis.bandCount(); ++b) {
    ASSERT_EQ(axis.frequency(b), live.frequencyForBandIndex(static_cast<float>(b))) << b;
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, BandAxisRates,
                         ::testing::Values(22050, 44100, 48000, 96000, 192000));

// A curve with the magnitude and phase of a pure delay of `delayMs` at each frequency.
double delayPhase(double hz, double delayMs) {
  return wrapDegrees(-360.0 * std::remainder(hz * delayMs / 1000.0, 1.0));
}

// Exported as the trace export writes FRD (frequency and dB to four decimals, degrees to
// three; blank bands left out), then imported: the same bands within 0.001 dB and 0.01°,
// blank bands blank.
TEST(CurveResampler, ACurveWrittenFromATraceReadsBackAsItWas) {
  const BandAxis axis(1100);
  std::string frd = "* Quorvex trace\n* frequency_hz magnitude_db phase_deg\n";
  std::vector<float> magnitude(1100);
  std::vector<float> phase(1100);
  for (std::size_t b = 0; b < 1100; ++b) {
    magnitude[b] = static_cast<float>(-20.0 + 10.0 * std::sin(b / 37.0));
    phase[b] = static_cast<float>(delayPhase(axis.frequency(b), 2.99));
    if (b % 50 == 7) continue;  // a blanked band
    char line[96];
    std::snprintf(line, sizeof line, "%.4f %.4f %.3f\n", axis.frequency(b), magnitude[b], phase[b]);
    frd += line;
  }
  BandCurves curves;
  CurveFileError error;
  ASSERT_TRUE(CurveImport::fromText(frd, axis, &curves, &error)) << error.text();
  ASSERT_EQ(curves.size(), 1100u);
  for (std::size_t b = 0; b < 1100; ++b) {
    if (b % 50 == 7) {
      EXPECT_TRUE(std::isnan(curves.magnitude[b])) << b;
      continue;
    }
    ASSERT_NEAR(curves.magnitude[b], magnitude[b], 0.001) << b;
    ASSERT_NEAR(wrapDegrees(curves.phase[b] - phase[b]), 0.0, 0.01) << b;
    ASSERT_EQ(curves.coherence[b], BandCurves::kCoherenceScale) << b;  // no column: full
  }
}

// Magnitude linear in log f is exact under interpolation in log f; the phase of a delay
// steps less than 180° between points, so unwrapping finds it between them, also where it
// wraps through ±180°. Bands outside 20 Hz to 20 kHz are blank.
TEST(CurveResampler, CurvesOnAnotherGridAreInterpolatedInLogFrequency) {
  CurvePoints points;
  for (double f = 20.0; f <= 20000.0 + 1e-9; f += 5.0) {
    points.frequency.push_back(f);
    points.magnitude.push_back(6.0 * std::log10(f));
    points.phase.push_back(delayPhase(f, 0.3));  // 0.3 ms: 0.54° per 5 Hz
    points.coherence.push_back(0.5);
  }
  const BandAxis axis(1100);
  const BandCurves curves = CurveResampler::toAxis(points, axis);
  std::size_t filled = 0;
  for (std::size_t b = 0; b < 1100; ++b) {
    const double f = axis.frequency(b);
    if (f < 20.0 || f > 20000.0) {
      EXPECT_TRUE(std::isnan(curves.magnitude[b]) && std::isnan(curves.phase[b]) &&
                  std::isnan(curves.coherence[b]))
          << f;
      continue;
    }
    ++filled;
    ASSERT_NEAR(curves.magnitude[b], 6.0 * std::log10(f), 2e-4) << f;
    // Between points 5 Hz apart the delay's phase is nearly linear in log f as well.
    ASSERT_NEAR(wrapDegrees(curves.phase[b] - delayPhase(f, 0.3)), 0.0, 0.05) << f;
    ASSERT_NEAR(curves.coherence[b], 90.0f, 1e-4) << f;
  }
  EXPECT_GT(filled, 900u);
}

}  // namespace
}  // namespace qv::curves
