#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "engine/Fft.h"
#include "support/TestSignals.h"

namespace qv {
namespace {

using cd = std::complex<double>;

using test::naiveDft;

// The bins in Work against the expected transform.
void expectBins(const Fft& fft, const std::vector<cd>& expected, double tolerance) {
  for (size_t k = 0; k < expected.size(); ++k) {
    ASSERT_NEAR(fft.Work[2 * k], expected[k].real(), tolerance) << k;
    ASSERT_NEAR(fft.Work[2 * k + 1], expected[k].imag(), tolerance) << k;
  }
}

class FftKnownAnswers : public ::testing::TestWithParam<int32_t> {};

// A constant 1 is all DC; the transform is unscaled, so bin 0 holds the sum N.
TEST_P(FftKnownAnswers, ConstantIsAllInBinZero) {
  const int32_t n = GetParam();
  Fft fft(n, 44100, 0);
  std::vector<int16_t> in(static_cast<size_t>(n), 1);
  fft.CopyIn(in.data(), n);
  fft.Transform();
  EXPECT_FLOAT_EQ(fft.GetReal(0), static_cast<float>(n));
  std::vector<cd> expected(static_cast<size_t>(n));
  expected[0] = n;
  expectBins(fft, expected, 1e-4 * n);
}

// Complex input written straight into Work at bit-reversed positions, as owners do.
class FftAgainstNaiveDft : public ::testing::TestWithParam<int32_t> {};

TEST_P(FftAgainstNaiveDft, ComplexInputMatches) {
  const int32_t n = GetParam();
  Fft fft(n, 44100, 0);
  std::mt19937 random(static_cast<unsigned>(n));
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<cd> x(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) {
    const float re = uniform(random);
    const float im = uniform(random);
    x[static_cast<size_t>(j)] = cd(re, im);
    const size_t at = 2 * static_cast<size_t>(fft.BitReverse[static_cast<size_t>(j)]);
    fft.Work[at] = re;
    fft.Work[at + 1] = im;
  }
  fft.Transform();
  // Single-precision butterflies: the error grows with log2 N times the bin's size (√N).
  expectBins(fft, naiveDft(x), 2e-6 * std::sqrt(n) * (fft.Log2Points + 1));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FftKnownAnswers, ::testing::Values(1, 2, 8, 64, 1024, 65536));
// The naive DFT is quadratic, so the comparison stays at moderate sizes.
INSTANTIATE_TEST_SUITE_P(Sizes, FftAgainstNaiveDft, ::testing::Values(1, 2, 8, 64, 2048));

// A windowed real input: bins follow the naive DFT of samples · window.
TEST(FftWindowing, CopyInAppliesTheWindow) {
  constexpr size_t n = 256;
  Fft fft(n, 48000, 1);
  std::vector<float> in(n);
  std::vector<cd> x(n);
  for (size_t i = 0; i < n; ++i) {
    in[i] = std::sin(0.37f * static_cast<float>(i)) + 0.25f;
    x[i] = in[i] * fft.Window[i];
  }
  fft.Work.assign(fft.Work.size(), 7.0f);  // stale imaginary parts must be overwritten
  fft.CopyIn(in.data(), n);
  fft.Transform();
  expectBins(fft, naiveDft(x), 1e-3);
}

struct WindowCase {
  uint32_t type;
  double atStart;   // value at n = 0
  double atCentre;  // value at n = N/2
};

class FftWindows : public ::testing::TestWithParam<WindowCase> {};

// Expected values from each window's formula: at n = 0 every cosine term is 1 (or x = −1,
// y = −1/2), at n = N/2 the odd cosines are −1 (x = y = 0). For example Hamming
// 0.54 − 0.46 = 0.08 and 0.54 + 0.46 = 1; flat top (1 − 1.93 + 1.29 − 0.388 + 0.0322) / 4.64.
TEST_P(FftWindows, EndsCentreAndSymmetry) {
  const auto c = GetParam();
  const int32_t n = 1024;
  Fft fft(n, 44100, c.type);
  EXPECT_NEAR(fft.Window[0], c.atStart, 1e-6);
  EXPECT_NEAR(fft.Window[n / 2], c.atCentre, 1e-6);
  for (int32_t i = 1; i < n; ++i) {
    ASSERT_NEAR(fft.Window[static_cast<size_t>(i)], fft.Window[static_cast<size_t>(n - i)], 1e-6)
        << "type " << c.type << ", n = " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, FftWindows,
    ::testing::Values(WindowCase{0, 1.0, 1.0}, WindowCase{1, 0.0, 1.0}, WindowCase{2, 0.08, 1.0},
                      WindowCase{3, 0.00688, 1.0}, WindowCase{4, 0.00006, 1.0},
                      WindowCase{5, 0.0, 1.0}, WindowCase{6, 0.0, 1.0}, WindowCase{7, 0.0, 1.0},
                      WindowCase{8, 0.0, 1.0}, WindowCase{9, 0.0042 / 4.64, 4.6402 / 4.64},
                      WindowCase{10, 0.00095 / 2.48, 2.48705 / 2.48}, WindowCase{11, 1.0, 1.0}),
    [](const ::testing::TestParamInfo<WindowCase>& info) {
      return "Type" + std::to_string(info.param.type);
    });

// Hann at a quarter: 0.5 − 0.5·cos(π/2) = 0.5; triangular at a quarter: 1 + x, x = −1/2.
TEST(FftWindowsInterior, QuarterPointValues) {
  EXPECT_NEAR(Fft(1024, 44100, 1).Window[256], 0.5, 1e-6);
  EXPECT_NEAR(Fft(1024, 44100, 6).Window[256], 0.5, 1e-6);
  EXPECT_NEAR(Fft(1024, 44100, 5).Window[256], 0.75, 1e-6);  // Welch: 1 − (1/2)²
}

TEST(FftDeathTest, WrongLengthsStopWithTheirCondition) {
  Fft fft(8, 44100, 0);
  std::vector<float> in(4, 0.0f);
  EXPECT_DEATH(fft.CopyIn(in.data(), 4), "count == _Points");
  EXPECT_DEATH(fft.GetReal(8), "i < _Points");
}

}  // namespace
}  // namespace qv
