// The resampler's taps are made once for all resamplers, and its short rings give way to the
// long ones without a frame changing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audiolib/DriftResampler.h"

namespace qv {
namespace {

// A Kaiser window (β = 9) over a sinc, each tap computed on its own with the window's peak
// evaluated afresh: the shared table must hold exactly these floats.
double kaiserI0(double x) {
  double sum = 1.0, term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

TEST(DriftResamplerTaps, AreTheWindowedSincBitForBit) {
  constexpr int kTaps = 2 * DriftResampler::kHalfWidth;
  const std::vector<float>& taps = DriftResampler::taps();
  ASSERT_EQ(taps.size(), static_cast<size_t>(DriftResampler::kPhases + 1) * kTaps);
  for (int p = 0; p <= DriftResampler::kPhases; ++p) {
    const double frac = static_cast<double>(p) / DriftResampler::kPhases;
    for (int i = 0; i < kTaps; ++i) {
      const double d = static_cast<double>(i - DriftResampler::kHalfWidth + 1) - frac;
      const double r = d / DriftResampler::kHalfWidth;
      const double window =
          r <= -1.0 || r >= 1.0 ? 0.0 : kaiserI0(9.0 * std::sqrt(1.0 - r * r)) / kaiserI0(9.0);
      const double sinc = d == 0.0 ? 1.0 : std::sin(M_PI * d) / (M_PI * d);
      ASSERT_EQ(taps[static_cast<size_t>(p) * kTaps + static_cast<size_t>(i)],
                static_cast<float>(sinc * window))
          << "row " << p << " tap " << i;
    }
  }
  // Row 0 reads a sample exactly: 1 on it, 0 on the others.
  EXPECT_EQ(taps[DriftResampler::kHalfWidth - 1], 1.0f);
}

std::vector<float> stereoNoise(size_t frames, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> out(2 * frames);
  for (float& v : out) v = uniform(random);
  return out;
}

// 2 s of noise undrifted, past the short ring's length, then a drift set: a resampler that
// starts short and one whose only rings are as short (nothing to lengthen) agree, so the taps
// read across the change found the history they needed (a tap missing it is off by a tenth or
// more; the sums differ by rounding only, where the taps of one wrap round the ring's end).
TEST(DriftResamplerRings, LengtheningWhenADriftIsSetChangesNoFrame) {
  const auto in = stereoNoise(88200, 7);
  DriftResampler lengthened;
  DriftResampler fixed(DriftResampler::kShortFrames);
  std::vector<float> a(2 * 8192), b(2 * 8192);
  for (size_t block = 0; block * 4410 < 88200; ++block) {
    if (block == 12) {
      lengthened.setDriftPpm(-300.0);
      fixed.setDriftPpm(-300.0);
    }
    const float* at = in.data() + 2 * 4410 * block;
    const uint32_t made = lengthened.process(at, 4410, a.data(), 8192);
    ASSERT_EQ(fixed.process(at, 4410, b.data(), 8192), made) << block;
    for (uint32_t i = 0; i < made; ++i) {
      ASSERT_NEAR(a[2 * i], b[2 * i], 1e-5f) << block << " " << i;
      ASSERT_EQ(a[2 * i + 1], b[2 * i + 1]) << block << " " << i;
    }
  }
  EXPECT_EQ(lengthened.slips(), 0);
  EXPECT_EQ(fixed.slips(), 0);
  EXPECT_GT(lengthened.framesOut(), 88200 - 200);
}

// Undrifted frames left waiting beyond what the short ring holds are kept, not dropped: taken
// out later they are the input, frame for frame.
TEST(DriftResamplerRings, FramesWaitingBeyondTheShortRingAreKept) {
  const size_t frames = 3 * DriftResampler::kShortFrames;
  const auto in = stereoNoise(frames, 8);
  DriftResampler resampler;
  for (size_t at = 0; at < frames; at += 4096)
    ASSERT_EQ(resampler.process(in.data() + 2 * at, 4096, nullptr, 0), 0u);
  std::vector<float> out(in.size());
  ASSERT_EQ(resampler.process(nullptr, 0, out.data(), static_cast<uint32_t>(frames)), frames);
  EXPECT_EQ(resampler.slips(), 0);
  EXPECT_EQ(out, in);
}

}  // namespace
}  // namespace qv
