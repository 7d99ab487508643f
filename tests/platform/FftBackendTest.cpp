#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "platform/FftBackend.h"
#include "support/TestSignals.h"

namespace qv::fft {
namespace {

using test::naiveDft;

class FftBackendSizes : public ::testing::TestWithParam<int> {};

// The complex transform, both directions, in place and out of place, against a DFT.
TEST_P(FftBackendSizes, ComplexMatchesNaiveDft) {
  const int n = GetParam();
  std::mt19937 gen(n);
  std::normal_distribution<float> d;
  std::vector<float> in(2 * static_cast<size_t>(n));
  for (auto& v : in) v = d(gen);
  std::vector<std::complex<double>> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[static_cast<size_t>(i)] = {in[2 * i], in[2 * i + 1]};

  for (auto direction : {ComplexPlan::Direction::Forward, ComplexPlan::Direction::Inverse}) {
    const auto ref = naiveDft(x, direction == ComplexPlan::Direction::Forward ? -1 : 1);
    std::vector<float> out(in.size());
    ComplexPlan::get(n, direction).execute(in.data(), out.data());
    std::vector<float> inPlace = in;
    ComplexPlan::get(n, direction).execute(inPlace.data(), inPlace.data());
    const double tolerance = 1e-4 * std::sqrt(double(n)) * std::log2(double(n));
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(out[2 * k], ref[static_cast<size_t>(k)].real(), tolerance) << k;
      EXPECT_NEAR(out[2 * k + 1], ref[static_cast<size_t>(k)].imag(), tolerance) << k;
      // FFTW plans the two variants separately; measured plans may order the arithmetic
      // differently, so they agree to rounding, not to the bit.
      EXPECT_NEAR(inPlace[2 * k], out[2 * k], tolerance / 100) << k;
      EXPECT_NEAR(inPlace[2 * k + 1], out[2 * k + 1], tolerance / 100) << k;
    }
  }
}

// The real transform from a deliberately misaligned pointer (as a ring tail can be),
// against a DFT, and back again to n times the input.
TEST_P(FftBackendSizes, RealForwardAndInverseFromUnalignedInput) {
  const int n = GetParam();
  std::mt19937 gen(n + 1);
  std::normal_distribution<float> d;
  std::vector<float> storage(static_cast<size_t>(n) + 1);
  float* in = storage.data() + 1;
  for (int i = 0; i < n; ++i) in[i] = d(gen);
  std::vector<std::complex<double>> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) x[static_cast<size_t>(i)] = in[i];
  const auto ref = naiveDft(x, -1);

  std::vector<float> spectrum(static_cast<size_t>(n) + 2);
  const std::vector<float> before(in, in + n);
  RealPlan::get(n).forward(in, spectrum.data());
  EXPECT_EQ(std::vector<float>(in, in + n), before) << "input must be preserved";
  const double tolerance = 1e-4 * std::sqrt(double(n)) * std::log2(double(n));
  for (int k = 0; k <= n / 2; ++k) {
    EXPECT_NEAR(spectrum[2 * k], ref[static_cast<size_t>(k)].real(), tolerance);
    EXPECT_NEAR(spectrum[2 * k + 1], ref[static_cast<size_t>(k)].imag(), tolerance);
  }
  std::vector<float> back(static_cast<size_t>(n));
  RealPlan::get(n).inverse(spectrum.data(), back.data());
  for (int i = 0; i < n; ++i) EXPECT_NEAR(back[i] / n, in[i], 1e-4);
  // The inverse that may overwrite its input gives the same, aligned or not.
  std::vector<float> again(static_cast<size_t>(n));
  auto scratch = allocateFloats(static_cast<size_t>(n) + 2);
  for (float* at : {scratch.get(), spectrum.data()}) {
    if (at != spectrum.data()) std::copy(spectrum.begin(), spectrum.end(), at);
    RealPlan::get(n).inverseDestroyingInput(at, again.data());
    for (int i = 0; i < n; ++i) ASSERT_NEAR(again[i], back[i], 1e-4 * n) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftBackendSizes, ::testing::Values(256, 1024, 4096));

// Known answers at the sizes the engine runs: a unit impulse is 1 in every bin; a
// constant 1 is n in bin 0 and nothing elsewhere.
TEST(FftBackendLarge, KnownAnswersAt32768And65536) {
  for (int n : {32768, 65536}) {
    auto in = allocateFloats(2 * static_cast<size_t>(n));
    auto out = allocateFloats(2 * static_cast<size_t>(n));
    in[0] = 1.0f;
    ComplexPlan::get(n).execute(in.get(), out.get());
    for (int k = 0; k < n; k += 977) {
      EXPECT_FLOAT_EQ(out[2 * k], 1.0f);
      EXPECT_FLOAT_EQ(out[2 * k + 1], 0.0f);
    }
    std::vector<float> ones(static_cast<size_t>(n), 1.0f);
    std::vector<float> spectrum(static_cast<size_t>(n) + 2);
    RealPlan::get(n).forward(ones.data(), spectrum.data());
    EXPECT_FLOAT_EQ(spectrum[0], static_cast<float>(n));
    for (int k = 1; k <= n / 2; k += 501)
      EXPECT_NEAR(std::hypot(spectrum[2 * k], spectrum[2 * k + 1]), 0.0, 1e-2);
  }
}

TEST(FftBackendSizesDeathTest, UnsupportedSizesStop) {
  EXPECT_FALSE(isSupportedSize(128));
  EXPECT_FALSE(isSupportedSize(1000));
  EXPECT_FALSE(isSupportedSize(131072));
  EXPECT_DEATH(ComplexPlan::get(1000), "isSupportedSize");
}

}  // namespace
}  // namespace qv::fft
