#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/FractionalOctaveBands.h"

namespace qv {
namespace {

struct PlanCase {
  int32_t bandsPerOctave;
  double rate;
  int32_t count;
  double first, last;  // centres, Hz
  bool lastPartial;
};

class FractionalOctaveBandsPlan : public ::testing::TestWithParam<PlanCase> {};

// Known plans, centres 1000·10^(0.3·x/b): whole octaves from the 16 Hz band (11.2-22.4 Hz,
// the first that reaches above 20 Hz) to the 16 kHz band; thirds from 20 Hz to 20 kHz, the
// 20 kHz band partial at 44.1 kHz (its upper edge, 22.4 kHz, lies above the Nyquist
// frequency); twelfths from x = -68 to 52; at 8 kHz, 48ths up to the 3981 Hz band, the
// last centred below 4 kHz. The bands touch edge to edge, and a frequency on a band's
// centre finds that band.
TEST_P(FractionalOctaveBandsPlan, CountsEdgesAndLookUp) {
  const PlanCase c = GetParam();
  const FractionalOctaveBands bands(c.bandsPerOctave, c.rate);
  ASSERT_EQ(bands.count(), c.count);
  EXPECT_NEAR(bands.centre(0), c.first, c.first * 1e-3);
  EXPECT_NEAR(bands.centre(c.count - 1), c.last, c.last * 1e-3);
  EXPECT_EQ(bands.partial(c.count - 1), c.lastPartial);
  EXPECT_FALSE(bands.partial(0));
  EXPECT_GT(bands.upper(0), 20.0);
  EXPECT_LE(bands.upper(0) / std::pow(10.0, 0.3 / c.bandsPerOctave), 20.0);
  for (int32_t b = 0; b + 1 < bands.count(); ++b) {
    ASSERT_NEAR(bands.upper(b), bands.lower(b + 1), bands.upper(b) * 1e-12);
    ASSERT_NEAR(bands.upper(b) / bands.lower(b), std::pow(10.0, 0.3 / c.bandsPerOctave), 1e-12);
    ASSERT_EQ(bands.bandForFrequency(bands.centre(b)), b);
  }
  EXPECT_EQ(bands.bandForFrequency(bands.lower(0) * 0.99), -1);
  EXPECT_EQ(bands.bandForFrequency(0.0), -1);
}

INSTANTIATE_TEST_SUITE_P(Plans, FractionalOctaveBandsPlan,
                         ::testing::Values(PlanCase{1, 48000, 11, 15.85, 15849, false},
                                           PlanCase{3, 48000, 31, 19.95, 19953, false},
                                           PlanCase{3, 44100, 31, 19.95, 19953, true},
                                           PlanCase{12, 96000, 121, 19.95, 19953, false},
                                           PlanCase{48, 8000, 369, 19.95, 3981, true}),
                         [](const auto& info) {
                           return "1_" + std::to_string(info.param.bandsPerOctave) + "_at_" +
                                  std::to_string(static_cast<int>(info.param.rate));
                         });

}  // namespace
}  // namespace qv
