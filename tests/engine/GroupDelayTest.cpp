#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "SimulatedCapture.h"
#include "engine/GroupDelayAnalyser.h"
#include "engine/TFDataSource.h"

namespace qv {
namespace {

constexpr uint32_t kRate = 48000;
constexpr int32_t kN = 32768;
constexpr int32_t kResolution = 96;

// Runs the live data source (channels swapped, as the live model runs it) over the signals
// in simulated time and hands its averaged spectra to a group-delay analyser.
class GroupDelayTest : public ::testing::Test {
 protected:
  void measure(const std::vector<float>& measurement, const std::vector<float>& reference,
               double seconds) {
    // A time constant of about 7 s (weight 0.015 at 10 ticks a second): frames 0.1 s
    // apart overlap by more than half, so fewer ticks would not average fewer samples.
    TFDataSource source(kRate, kN, 1.0f, 1100.0f, 0.015f, clock_);
    source.setChannelsSwapped(true);
    test::SimulatedCapture capture(*clock_, source, kRate);
    capture.setSignal(test::interleave(measurement, reference));
    capture.run(seconds, 10.0, [&] { source.update(0.0); });
    ASSERT_TRUE(analyser_.process(source.averagedSpectra()));
  }
  // The bands from `low` to `high` Hz.
  std::vector<int32_t> bands(double low, double high) const {
    std::vector<int32_t> out;
    for (int32_t b = 0; b < analyser_.bandCount(); ++b) {
      const double f = analyser_.frequencyForBandIndex(static_cast<float>(b));
      if (f >= low && f <= high) out.push_back(b);
    }
    return out;
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  GroupDelayAnalyser analyser_{kN, kRate, kResolution};
};

// The system that delays by 160 samples: 160 / 48000 s = 3.333 ms at every frequency.
TEST_F(GroupDelayTest, PureDelayReadsItsDelayEverywhere) {
  const size_t length = 32 * kRate;
  const auto reference = test::noise(length, 11);
  std::vector<float> measurement(length, 0.0f);
  for (size_t i = 160; i < length; ++i) measurement[i] = reference[i - 160];
  measure(measurement, reference, 30.0);
  const auto passband = bands(20.0, 20000.0);
  ASSERT_GT(passband.size(), 900u);
  for (const int32_t b : passband)
    ASSERT_NEAR(analyser_.values()[b], 1000.0 * 160.0 / kRate, 0.05)
        << analyser_.frequencyForBandIndex(static_cast<float>(b)) << " Hz";
}

// Two band-pass sections (a constant-peak biquad at 1 kHz, Q 2, twice) with noise 40 dB
// below the reference added after them. The truth is computed from the coefficients the
// way a filter's group delay is defined, d/dω of -arg H: for H = B/A with polynomials in
// z^-1, τ(ω) = Re(Σ n·b_n·z^-n / Σ b_n·z^-n) - Re(Σ n·a_n·z^-n / Σ a_n·z^-n) samples.
TEST_F(GroupDelayTest, BandPassAgreesWithItsAnalyticGroupDelay) {
  const double w0 = 2.0 * std::numbers::pi * 1000.0 / kRate;
  const double alpha = std::sin(w0) / (2.0 * 2.0);
  const double a0 = 1.0 + alpha;
  const std::vector<double> b1 = {alpha / a0, 0.0, -alpha / a0};
  const std::vector<double> a1 = {1.0, -2.0 * std::cos(w0) / a0, (1.0 - alpha) / a0};
  const auto convolve = [](const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> out(x.size() + y.size() - 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i)
      for (size_t j = 0; j < y.size(); ++j) out[i + j] += x[i] * y[j];
    return out;
  };
  const auto b = convolve(b1, b1);
  const auto a = convolve(a1, a1);
  const auto truthMs = [&](double f) {
    const std::complex<double> zInverse = std::polar(1.0, -2.0 * std::numbers::pi * f / kRate);
    const auto delay = [&](const std::vector<double>& p) {
      std::complex<double> sum = 0.0, weighted = 0.0, power = 1.0;
      for (size_t n = 0; n < p.size(); ++n, power *= zInverse) {
        sum += p[n] * power;
        weighted += static_cast<double>(n) * p[n] * power;
      }
      return (weighted / sum).real();
    };
    return 1000.0 * (delay(b) - delay(a)) / kRate;
  };

  const size_t length = 32 * kRate;
  const auto reference = test::noise(length, 21);
  const auto noise = test::noise(length, 22, 0.0025f);
  // Direct form I over both sections, in double precision.
  std::vector<float> measurement(length);
  std::vector<double> x(b.size(), 0.0), y(a.size(), 0.0);
  for (size_t i = 0; i < length; ++i) {
    for (size_t k = x.size() - 1; k > 0; --k) x[k] = x[k - 1];
    x[0] = reference[i];
    double out = 0.0;
    for (size_t k = 0; k < b.size(); ++k) out += b[k] * x[k];
    for (size_t k = 1; k < a.size(); ++k) out -= a[k] * y[k - 1];
    for (size_t k = y.size() - 1; k > 0; --k) y[k] = y[k - 1];
    y[0] = out;
    measurement[i] = static_cast<float>(out) + noise[i];
  }
  measure(measurement, reference, 30.0);

  // Over the passband (the half-power points of the pair lie near 0.8 and 1.25 kHz).
  for (const int32_t band : bands(800.0, 1250.0)) {
    const double f = analyser_.frequencyForBandIndex(static_cast<float>(band));
    ASSERT_NEAR(analyser_.values()[band], truthMs(f), 0.1) << f << " Hz";
  }
  // Two decades away the filter is 50 dB down, under the noise: no delay is shown.
  for (const int32_t band : bands(20.0, 60.0)) ASSERT_TRUE(std::isnan(analyser_.values()[band]));
  for (const int32_t band : bands(15000.0, 20000.0))
    ASSERT_TRUE(std::isnan(analyser_.values()[band]));
}

TEST_F(GroupDelayTest, RefusesSpectraOfAnotherSize) {
  std::vector<float> bins(kN / 4 + 1, 1.0f);
  const TFDataSource::AveragedSpectra wrong{bins.data(), bins.data(), bins.data(), bins.data(),
                                            kN / 4 + 1};
  EXPECT_FALSE(analyser_.process(wrong));
}

}  // namespace
}  // namespace qv
