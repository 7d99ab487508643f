#pragma once
// Recordings with a known truth: a band-limited reference noise and measurements made from
// it by systems whose delay, drift, filter and level are known exactly, so that tests can
// hold what the analyser reports against what the signal is.
//
// Fractional delays and clock drift read the reference between its samples with a
// Kaiser-windowed sinc (64 taps each side, beta 10): its error stays below -97 dB up to
// 0.475 cycles per sample, and the reference carries nothing above about 0.48 (it is
// band-limited by a 257-tap windowed-sinc low-pass), so a delayed measurement is the
// reference delayed, to better than 0.001 degrees wherever there is signal.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/TestSignals.h"

namespace qv::test::known {

// I0, the modified Bessel function of the first kind, by its power series.
inline double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 60; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return sum;
}

inline double sinc(double x) {
  if (std::fabs(x) < 1e-12) return 1.0;
  const double px = M_PI * x;
  return std::sin(px) / px;
}

inline double kaiser(double t, double halfWidth, double beta) {
  const double r = t / halfWidth;
  if (r <= -1.0 || r >= 1.0) return 0.0;
  return besselI0(beta * std::sqrt(1.0 - r * r)) / besselI0(beta);
}

// Reads a signal at any real index: x(t) = sum of x[n] · sinc(t − n) · window, outside the
// signal silence. The kernel is tabled at 2048 phases a sample and read between them
// linearly (an error near -150 dB), so that drifting reads stay quick.
class BandLimitedReader {
 public:
  static constexpr int kHalfWidth = 64;
  static constexpr double kBeta = 10.0;
  static constexpr int kPhases = 2048;

  explicit BandLimitedReader(const std::vector<float>& x) : x_(x) {}

  double at(double t) const {
    const double base = std::floor(t);
    const double frac = t - base;
    const auto n0 = static_cast<int64_t>(base);
    const auto size = static_cast<int64_t>(x_.size());
    if (frac == 0.0) return n0 >= 0 && n0 < size ? x_[static_cast<size_t>(n0)] : 0.0;
    const double position = frac * kPhases;
    const auto phase = static_cast<size_t>(position);
    const double mix = position - static_cast<double>(phase);
    const double* lower = &table()[phase * kTaps];
    const double* upper = lower + kTaps;
    const int64_t first = n0 - kHalfWidth + 1;
    const int begin = static_cast<int>(std::clamp<int64_t>(-first, 0, kTaps));
    const int end = static_cast<int>(std::clamp<int64_t>(size - first, 0, kTaps));
    const float* x = x_.data() + first;
    double sum = 0.0;
#pragma omp simd reduction(+ : sum)
    for (int i = begin; i < end; ++i) sum += x[i] * (lower[i] + mix * (upper[i] - lower[i]));
    return sum;
  }

 private:
  static constexpr int kTaps = 2 * kHalfWidth;
  // Row p holds the taps for the fraction p / kPhases, tap i at distance i − 63 − p/kPhases.
  static const std::vector<double>& table() {
    static const std::vector<double> taps = [] {
      std::vector<double> t(static_cast<size_t>(kPhases + 1) * kTaps);
      for (int p = 0; p <= kPhases; ++p) {
        const double frac = static_cast<double>(p) / kPhases;
        for (int i = 0; i < kTaps; ++i) {
          const double d = static_cast<double>(i - kHalfWidth + 1) - frac;
          t[static_cast<size_t>(p) * kTaps + static_cast<size_t>(i)] =
              sinc(d) * kaiser(d, kHalfWidth, kBeta);
        }
      }
      return t;
    }();
    return taps;
  }

  const std::vector<float>& x_;
};

// A linear-phase low-pass by windowed sinc: `cutoff` in cycles per sample (0 … 0.5).
inline std::vector<float> windowedSincLowPass(const std::vector<float>& x, double cutoff,
                                              int halfWidth = 128, double beta = 10.0) {
  std::vector<double> taps(2 * static_cast<size_t>(halfWidth) + 1);
  for (int m = -halfWidth; m <= halfWidth; ++m)
    taps[static_cast<size_t>(m + halfWidth)] =
        2.0 * cutoff * sinc(2.0 * cutoff * m) * kaiser(m, halfWidth + 1, beta);
  std::vector<float> y(x.size());
  const auto size = static_cast<int64_t>(x.size());
  for (int64_t n = 0; n < size; ++n) {
    double sum = 0.0;
    const int64_t lo = std::max<int64_t>(-halfWidth, -n);
    const int64_t hi = std::min<int64_t>(halfWidth, size - 1 - n);
    const double* t = taps.data() + halfWidth;
    const float* at = x.data() + n;
#pragma omp simd reduction(+ : sum)
    for (int64_t m = lo; m <= hi; ++m) sum += t[m] * at[m];
    y[static_cast<size_t>(n)] = static_cast<float>(sum);
  }
  return y;
}

enum class Colour { White, Pink };

// Gaussian noise band-limited below 0.48 cycles per sample, white or pink (-3 dB per octave,
// Paul Kellet's filter), scaled to `rms`. The first and last 128 samples are the low-pass
// filling in; they carry signal like the rest.
inline std::vector<float> referenceNoise(size_t count, uint32_t seed, Colour colour = Colour::Pink,
                                         double rms = 0.1) {
  std::mt19937 generator(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<float> white(count);
  for (auto& v : white) v = static_cast<float>(gauss(generator));
  std::vector<float> x = windowedSincLowPass(white, 0.4775);
  if (colour == Colour::Pink) {
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (auto& v : x) {
      const double w = v;
      b0 = 0.99886 * b0 + w * 0.0555179;
      b1 = 0.99332 * b1 + w * 0.0750759;
      b2 = 0.96900 * b2 + w * 0.1538520;
      b3 = 0.86650 * b3 + w * 0.3104856;
      b4 = 0.55000 * b4 + w * 0.5329522;
      b5 = -0.7616 * b5 - w * 0.0168980;
      v = static_cast<float>(b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362);
      b6 = w * 0.115926;
    }
  }
  double sum = 0.0;
  for (float v : x) sum += static_cast<double>(v) * v;
  const double scale = rms / std::sqrt(sum / static_cast<double>(std::max<size_t>(count, 1)));
  for (auto& v : x) v = static_cast<float>(v * scale);
  return x;
}

// y[n] = x(n − delay): the measurement lags the reference by `delay` samples (negative:
// leads). Whole-sample delays are exact copies.
inline std::vector<float> delayed(const std::vector<float>& x, double delay) {
  const BandLimitedReader reader(x);
  std::vector<float> y(x.size());
  for (size_t n = 0; n < y.size(); ++n)
    y[n] = static_cast<float>(reader.at(static_cast<double>(n) - delay));
  return y;
}

// A measurement taken on a clock that runs `ppm` parts per million fast, `delay` samples
// behind the reference at its first sample: y[n] = x(n / (1 + ppm·1e−6) − delay), so the
// delay seen at sample n is delay + n·ppm/(1e6 + ppm), growing by about ppm·1e−6 a sample.
inline std::vector<float> drifted(const std::vector<float>& x, double ppm, double delay) {
  const BandLimitedReader reader(x);
  const double ratio = 1.0 + ppm * 1e-6;
  std::vector<float> y(x.size());
  for (size_t n = 0; n < y.size(); ++n)
    y[n] = static_cast<float>(reader.at(static_cast<double>(n) / ratio - delay));
  return y;
}

inline double driftedDelayAt(double n, double ppm, double delay) {
  return n - n / (1.0 + ppm * 1e-6) + delay;
}

// A source that moves at sample `at`: `before` samples of delay up to it, `after` from it.
inline std::vector<float> moving(const std::vector<float>& x, double before, double after,
                                 size_t at) {
  const BandLimitedReader reader(x);
  std::vector<float> y(x.size());
  for (size_t n = 0; n < y.size(); ++n)
    y[n] = static_cast<float>(reader.at(static_cast<double>(n) - (n < at ? before : after)));
  return y;
}

// Second-order sections by the bilinear transform (with prewarping), direct form I.
struct Biquad {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double process(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
  static Biquad lowPass(double frequency, double q, double rate) {
    const double k = std::tan(M_PI * frequency / rate);
    const double norm = 1.0 / (1.0 + k / q + k * k);
    Biquad s{};
    s.b0 = k * k * norm;
    s.b1 = 2.0 * s.b0;
    s.b2 = s.b0;
    s.a1 = 2.0 * (k * k - 1.0) * norm;
    s.a2 = (1.0 - k / q + k * k) * norm;
    return s;
  }
};

// A Linkwitz-Riley low-pass of the fourth order (two Butterworth sections of Q 0.7071), the
// usual subwoofer crossover.
class SubwooferLowPass {
 public:
  SubwooferLowPass(double frequency, double rate)
      : a_(Biquad::lowPass(frequency, M_SQRT1_2, rate)),
        b_(Biquad::lowPass(frequency, M_SQRT1_2, rate)) {}
  double process(double x) { return b_.process(a_.process(x)); }
  std::vector<float> process(const std::vector<float>& x) {
    std::vector<float> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) y[n] = static_cast<float>(process(x[n]));
    return y;
  }
  // Where the filter's impulse response peaks, in samples, to a hundredth of a sample (read
  // between samples by the band-limited reader).
  static double impulsePeak(double frequency, double rate) {
    SubwooferLowPass filter(frequency, rate);
    std::vector<float> h(static_cast<size_t>(rate / frequency * 4.0) + 256);
    for (size_t n = 0; n < h.size(); ++n) h[n] = static_cast<float>(filter.process(n == 0));
    const auto peak = static_cast<double>(std::max_element(h.begin(), h.end()) - h.begin());
    const BandLimitedReader reader(h);
    double best = peak, bestValue = reader.at(peak);
    for (double t = peak - 1.0; t <= peak + 1.0; t += 0.01) {
      const double v = reader.at(t);
      if (v > bestValue) bestValue = v, best = t;
    }
    return best;
  }

 private:
  Biquad a_, b_;
};

// Interleaved (measurement, reference) frames as the recorder delivers them.
using qv::test::interleave;

inline std::vector<float> scaled(std::vector<float> x, double gain) {
  for (auto& v : x) v = static_cast<float>(v * gain);
  return x;
}

inline std::vector<float> clipped(std::vector<float> x, float limit) {
  for (auto& v : x) v = std::clamp(v, -limit, limit);
  return x;
}

}  // namespace qv::test::known
