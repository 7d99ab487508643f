#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/Biquad.h"
#include "audio/PinkNoiseGenerator.h"
#include "audio/SubtractiveRandom.h"

namespace qv {
namespace {

TEST(SubtractiveRandomTest, FirstDrawsAfterSeeding) {
  // Expected words from an independent Python transcription of the seeding: t[0] = seed,
  // t[21k mod 55] from the running difference for k = 1..54, four mixing passes
  // t[k] -= t[(k+31) mod 55], then draws t[i] -= t[j] with i, j starting at 0, 31.
  // Full words: 3843100682, 691697443, 1598176722, 3709352051, 2080534686.
  SubtractiveRandom r;
  EXPECT_EQ(r.next(65536), 3843100682u % 65536);  // 4106
  EXPECT_EQ(r.next(65536), 691697443u % 65536);   // 30499
  EXPECT_EQ(r.next(1000), 1598176722u % 1000);
  EXPECT_EQ(r.next(0xFFFFFFFFu), 3709352051u);
  EXPECT_EQ(r.next(65536), 2080534686u % 65536);
}

TEST(PinkNoiseGeneratorTest, WhiteNoiseStaysInItsRange) {
  // 16-bit draws centred and scaled by 2^-16 * 0.25 lie in [-0.125, 0.125).
  SubtractiveRandom r;
  float lo = 1, hi = -1;
  for (int i = 0; i < 200000; ++i) {
    const float w = PinkNoiseGenerator::white(r);
    lo = std::min(lo, w);
    hi = std::max(hi, w);
  }
  EXPECT_GE(lo, -0.125f);
  EXPECT_LT(hi, 0.125f);
  EXPECT_LT(lo, -0.124f);
  EXPECT_GT(hi, 0.124f);
}

struct Coefficients {
  float rate;
  float hp[5];
  float lp[5];
};

class FilterDesignTest : public ::testing::TestWithParam<Coefficients> {};

TEST_P(FilterDesignTest, ButterworthCoefficients) {
  // Values from a float32 transcription of the bilinear designs in Python:
  // K = tan(f * 1.570795), D = 1 + 1.4142135 K + K^2, f = 4 / nyquist for the high-pass
  // and 0.9297 for the low-pass (so the low-pass is the same at every rate).
  const Coefficients& c = GetParam();
  PinkNoiseGenerator g(c.rate);
  const Biquad& hp = g.highPass;
  const Biquad& lp = g.lowPass;
  const double hpGot[5] = {hp.b0, hp.b1, hp.b2, hp.a1, hp.a2};
  const double lpGot[5] = {lp.b0, lp.b1, lp.b2, lp.a1, lp.a2};
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(hpGot[i], c.hp[i], 2e-6f) << "high-pass coefficient " << i;
    EXPECT_NEAR(lpGot[i], c.lp[i], 2e-6f) << "low-pass coefficient " << i;
  }
  // A low-pass passes DC with unit gain; a high-pass blocks it.
  EXPECT_NEAR((lp.b0 + lp.b1 + lp.b2) / (1 + lp.a1 + lp.a2), 1.0f, 1e-5f);
  EXPECT_NEAR(hp.b0 + hp.b1 + hp.b2, 0.0f, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FilterDesignTest,
    ::testing::Values(
        Coefficients{44100.f,
                     {0.999597132f, -1.99919426f, 0.999597132f, -1.99919415f, 0.999194324f},
                     {0.855357945f, 1.71071589f, 0.855357945f, 1.68968403f, 0.731747806f}},
        Coefficients{48000.f,
                     {0.999629736f, -1.99925947f, 0.999629736f, -1.99925935f, 0.99925971f},
                     {0.855357945f, 1.71071589f, 0.855357945f, 1.68968403f, 0.731747806f}}));

TEST(PinkNoiseGeneratorTest, OutputDoesNotDependOnHowCallsAreCut) {
  // The driver asks for whatever size it likes; the filter states must carry over.
  SubtractiveRandom r1, r2;
  PinkNoiseGenerator a(48000), b(48000);
  std::vector<float> whole(3000), parts(3000);
  a.generate(whole.data(), 3000, r1);
  b.generate(parts.data(), 7, r2);
  b.generate(parts.data() + 7, 1024, r2);
  b.generate(parts.data() + 1031, 1969, r2);
  EXPECT_EQ(whole, parts);
}

}  // namespace
}  // namespace qv
