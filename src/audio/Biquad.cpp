#include "audio/Biquad.h"

#include <cmath>

namespace qv {
namespace {
// pi/2 to the precision the designs were tuned with.
constexpr double kHalfPi = 1.570795;
constexpr double kSqrt2 = 1.4142135;
}  // namespace

void Biquad::reset() { *this = Biquad{}; }

void Biquad::designLowPass(double f) {
  const double k = std::tan(f * kHalfPi);
  const double d = 1 + kSqrt2 * k + k * k;
  b0 = k * k / d;
  b1 = 2 * k * k / d;
  b2 = k * k / d;
  a1 = 2 * (k * k - 1) / d;
  a2 = (1 - kSqrt2 * k + k * k) / d;
}

void Biquad::designHighPass(double f) {
  const double k = std::tan(f * kHalfPi);
  const double d = 1 + kSqrt2 * k + k * k;
  b0 = 1 / d;
  b1 = -2 / d;
  b2 = 1 / d;
  a1 = 2 * (k * k - 1) / d;
  a2 = (1 - kSqrt2 * k + k * k) / d;
}

void Biquad::process(float* samples, uint32_t count) {
  for (uint32_t n = 0; n < count; ++n) {
    const double x = samples[n];
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    samples[n] = static_cast<float>(y);
  }
}

}  // namespace qv
