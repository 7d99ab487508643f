// The resampler's taps are made once for all resamplers, and its short rings give way to the
// long ones without a frame changing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "audiolib/DriftResampler.h"
#include "support/TestSignals.h"

namespace qv {
namespace {

// What an interpolator's taps must do, whatever window made them: every row passes a
// constant unchanged (sums to 1; the Kaiser window's ripple leaves about 6e-6), row 0 reads
// a sample exactly, a row p samples past equals row kPhases − p read backwards (the sinc is
// even), and the half-sample row does not pass the Nyquist tone (+1, −1, … sums to 0).
TEST(DriftResamplerTaps, PassConstantsReadSamplesExactlyAndStaySymmetric) {
  constexpr int kTaps = 2 * DriftResampler::kHalfWidth;
  const std::vector<float>& taps = DriftResampler::taps();
  ASSERT_EQ(taps.size(), static_cast<size_t>(DriftResampler::kPhases + 1) * kTaps);
  const auto tap = [&](int row, int i) {
    return taps[static_cast<size_t>(row) * kTaps + static_cast<size_t>(i)];
  };
  for (int p = 0; p <= DriftResampler::kPhases; ++p) {
    double sum = 0.0;
    for (int i = 0; i < kTaps; ++i) sum += tap(p, i);
    ASSERT_NEAR(sum, 1.0, 2e-5) << "row " << p;
    for (int i = 1; i < kTaps; ++i)
      ASSERT_EQ(tap(p, i), tap(DriftResampler::kPhases - p, kTaps - 1 - i)) << p << " " << i;
  }
  for (int i = 0; i < kTaps; ++i)
    EXPECT_NEAR(tap(0, i), i == DriftResampler::kHalfWidth - 1 ? 1.0 : 0.0, 1e-12) << "tap " << i;
  double nyquist = 0.0;
  for (int i = 0; i < kTaps; ++i) nyquist += (i % 2 == 0 ? 1.0 : -1.0) * tap(512, i);
  EXPECT_NEAR(nyquist, 0.0, 1e-5);
}

// 2 s of noise undrifted, past the short ring's length, then a drift set: a resampler that
// starts short and one whose only rings are as short (nothing to lengthen) agree, so the taps
// read across the change found the history they needed (a tap missing it is off by a tenth or
// more; the sums differ by rounding only, where the taps of one wrap round the ring's end).
TEST(DriftResamplerRings, LengtheningWhenADriftIsSetChangesNoFrame) {
  const auto in = test::noise(2 * 88200, 7, 1.0f);
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
  const auto in = test::noise(2 * frames, 8, 1.0f);
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
