#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/LinToLogTransformer.h"

namespace qv {
namespace {

constexpr int32_t kN = 32768;

struct TableCase {
  int64_t rate;
  int32_t resolution;
  int32_t bands;
};

class BandTables : public ::testing::TestWithParam<TableCase> {};

// Every table must describe bands that ascend, stay inside the first half of the FFT and
// whose centre lies between the two bins they interpolate from.
TEST_P(BandTables, CountAndTablesAreConsistent) {
  const TableCase c = GetParam();
  LinToLogTransformer axis(nullptr, kN, c.rate, c.resolution);
  ASSERT_EQ(axis.bandCount(), c.bands);
  const float half = kN / 2;
  const float* startEnd = axis.bandStartEndPt();
  float previousCentre = 0.0f;
  for (int32_t b = 0; b < axis.bandCount(); ++b) {
    SCOPED_TRACE(b);
    EXPECT_LE(startEnd[2 * b], startEnd[2 * b + 1]);
    EXPECT_GT(startEnd[2 * b], 0.0f);
    EXPECT_LE(startEnd[2 * b + 1], half - 1.0f);
    const float ratio = axis.interpCenterBandRatios()[b];
    EXPECT_GE(ratio, 0.0f);
    EXPECT_LT(ratio, 1.0f);
    const float centre = static_cast<float>(axis.closestLowerFftPts()[b]) + ratio;
    EXPECT_GT(centre, previousCentre);
    previousCentre = centre;
    EXPECT_FLOAT_EQ(centre * static_cast<float>(c.rate) / kN,
                    axis.frequencyForBandIndex(static_cast<float>(b)));
    EXPECT_EQ(axis.bands()[b], -180.0f);
  }
  EXPECT_LT(axis.frequencyForBandIndex(static_cast<float>(c.bands - 1)), axis.stopFreq());
}

// Band counts: round(log10(stop) / step) - round(log10(8) / step) with step = 0.3 / R; the
// stop frequency is rate / 2.01, capped at 25 kHz from 50 250 Hz on.
INSTANTIATE_TEST_SUITE_P(Rates, BandTables,
                         ::testing::Values(TableCase{44100, 96, 1100}, TableCase{48000, 96, 1112},
                                           TableCase{88200, 96, 1118}, TableCase{96000, 96, 1118},
                                           TableCase{44100, 48, 551}, TableCase{44100, 24, 275},
                                           TableCase{44100, 12, 138}));

TEST(LinToLogAxis, LiveConfigurationAt44100) {
  LinToLogTransformer axis(nullptr, kN, 44100, 96);
  EXPECT_EQ(axis.frequencyForBandIndex(0.0f), 8.0f);  // exactly the start frequency
  EXPECT_NEAR(axis.frequencyForBandIndex(1099.0f), 21750.0f, 5.0f);
  // 3 + the number of bands narrower than two bins over ±0.75 band.
  EXPECT_EQ(axis.interpolatedBandCount(), 482);
  // 0.3 decade per 96 bands: one true octave is 96 · log10(2) / 0.3 = 96.33 bands.
  EXPECT_NEAR(axis.bandIndexForFreq(1000.0f) - axis.bandIndexForFreq(500.0f), 96.33f, 0.01f);
  EXPECT_FLOAT_EQ(axis.startFreqLog(), 0.90309f);  // the plots' axis starts at log10(8)
}

TEST(LinToLogAxis, ConversionsInvertEachOther) {
  LinToLogTransformer axis(nullptr, kN, 48000, 96);
  for (float i : {0.0f, 1.0f, 17.5f, 480.0f, 1111.0f}) {
    EXPECT_NEAR(axis.bandIndexForFreq(axis.frequencyForBandIndex(i)), i, 1e-3f * (1 + i));
    EXPECT_NEAR(axis.bandIndexForLogFreq(axis.logFrequencyForBandIndex(i)), i, 1e-3f * (1 + i));
    EXPECT_NEAR(LinToLogTransformer::logFreqFromHz(axis.frequencyForBandIndex(i)),
                axis.logFrequencyForBandIndex(i), 1e-5f);
  }
  EXPECT_NEAR(LinToLogTransformer::hzFromLogFreq(3.0f), 1000.0f, 0.01f);
}

// At coarse resolutions the +0.75-band edge of the top band reaches past half the FFT
// (band 137 at R = 12 is 20.6 kHz, its upper edge 22.6 kHz): it ends at H - 1.
TEST(LinToLogAxis, UpperEdgeIsClampedBelowHalfTheFftLength) {
  for (int32_t n : {256, 32768}) {
    LinToLogTransformer axis(nullptr, n, 44100, 12);
    const int32_t last = axis.bandCount() - 1;
    EXPECT_EQ(axis.bandStartEndPt()[2 * last + 1], static_cast<float>(n / 2) - 1.0f);
    EXPECT_LT(axis.bandStartEndPt()[2 * last - 1], static_cast<float>(n / 2) - 1.0f);
  }
}

// A flat spectrum of ones: an interpolated band gets width · 1², a summed band
// width / count · count, so every band from 1 on holds its own width; band 0 keeps −180.
TEST(LinToLogAxis, BaseTransformOfFlatSpectrumGivesBandWidths) {
  std::vector<float> spectrum(kN, 1.0f);
  LinToLogTransformer axis(spectrum.data(), kN, 44100, 96);
  axis.transform(0.0);
  EXPECT_EQ(axis.bands()[0], -180.0f);
  for (int32_t b = 1; b < axis.bandCount(); ++b) {
    const float width = axis.bandStartEndPt()[2 * b + 1] - axis.bandStartEndPt()[2 * b];
    ASSERT_NEAR(axis.bands()[b], width, 1e-4f * width) << b;
  }
}

// An interpolated band whose two bins give a NaN or an infinite value keeps the value it
// had; every other band takes the new spectrum (all 2: width · 2²).
TEST(LinToLogAxis, NonFiniteInterpolatedValueLeavesTheBandAsItWas) {
  std::vector<float> spectrum(kN, 1.0f);
  LinToLogTransformer axis(spectrum.data(), kN, 44100, 96);
  const int32_t poisoned = axis.closestLowerFftPts()[10];
  for (float poison : {NAN, INFINITY}) {
    spectrum.assign(kN, 1.0f);
    axis.transform(0.0);
    const std::vector<float> before(axis.bands(), axis.bands() + axis.bandCount());
    spectrum.assign(kN, 2.0f);
    spectrum[static_cast<size_t>(poisoned)] = poison;
    axis.transform(0.0);
    int kept = 0;
    for (int32_t b = 1; b < axis.bandCount(); ++b) {
      const int32_t k = axis.closestLowerFftPts()[b];
      if (b < axis.interpolatedBandCount() && (k == poisoned || k + 1 == poisoned)) {
        ASSERT_EQ(axis.bands()[b], before[static_cast<size_t>(b)]) << b << " " << poison;
        ++kept;
      } else {
        ASSERT_NEAR(axis.bands()[b], 4.0f * before[static_cast<size_t>(b)],
                    1e-4f * before[static_cast<size_t>(b)])
            << b << " " << poison;
      }
    }
    EXPECT_GE(kept, 2) << poison;  // band 10 and its neighbours share the bin
  }
}

}  // namespace
}  // namespace qv
