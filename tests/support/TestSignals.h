#pragma once
// Signals the tests feed and the transform they hold results to: deterministic noise,
// sines, two channels interleaved, and the DFT by its definition in double precision.
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace qv::test {

// Deterministic white noise, uniform in ±amplitude.
inline std::vector<float> noise(size_t count, uint32_t seed, float amplitude = 0.25f) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
  std::vector<float> out(count);
  for (float& v : out) v = uniform(generator);
  return out;
}

inline std::vector<float> sine(size_t count, double frequency, double amplitude, double rate,
                               double phase = 0.3) {
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i)
    out[i] = static_cast<float>(
        amplitude *
        std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate + phase));
  return out;
}

// Interleaves two channels (measurement first, then reference, as the recorder maps them).
inline std::vector<float> interleave(const std::vector<float>& measurement,
                                     const std::vector<float>& reference) {
  std::vector<float> out(2 * measurement.size());
  for (size_t i = 0; i < measurement.size(); ++i) {
    out[2 * i] = measurement[i];
    out[2 * i + 1] = reference[i];
  }
  return out;
}

// X[k] = Σ x[j]·e^(sign·2πi·jk/N): sign -1 is the forward transform, +1 the inverse
// (unscaled). Quadratic, so for moderate sizes.
inline std::vector<std::complex<double>> naiveDft(const std::vector<std::complex<double>>& x,
                                                  int sign = -1) {
  const size_t n = x.size();
  std::vector<std::complex<double>> out(n);
  for (size_t k = 0; k < n; ++k) {
    std::complex<double> sum = 0;
    for (size_t j = 0; j < n; ++j)
      sum += x[j] * std::polar(1.0, sign * 2.0 * std::numbers::pi *
                                        static_cast<double>((k * j) % n) / static_cast<double>(n));
    out[k] = sum;
  }
  return out;
}

}  // namespace qv::test
