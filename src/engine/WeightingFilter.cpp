#include "engine/WeightingFilter.h"

#include <cmath>
#include <numbers>

#include "platform/Assert.h"

namespace qv {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// Solves the 3×3 system m·x = v by Cramer's rule (the normal equations of the fit).
std::array<double, 3> solve3(const double m[3][3], const double v[3]) {
  const auto det = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double d = det(m);
  std::array<double, 3> x{};
  for (int c = 0; c < 3; ++c) {
    double mc[3][3];
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) mc[r][k] = k == c ? v[r] : m[r][k];
    x[c] = det(mc) / d;
  }
  return x;
}

}  // namespace

Complex WeightingFilter::Section::response(Complex zInverse) const {
  return (b0 + zInverse * (b1 + zInverse * b2)) / (1.0 + zInverse * (a1 + zInverse * a2));
}

WeightingFilter::WeightingFilter(Weighting weighting, double sampleRate)
    : weighting_(weighting), rate_(sampleRate) {
  QV_ASSERT(sampleRate >= 8000.0);
  using W = FrequencyWeighting;
  switch (weighting) {
    case Weighting::Z:
      break;
    case Weighting::C:
      addHighPassPair(W::kF1, W::kF1);
      addHighFrequencyPole();
      break;
    case Weighting::A:
      addHighPassPair(W::kF1, W::kF1);
      addHighPassPair(W::kF2, W::kF3);
      addHighFrequencyPole();
      break;
  }
  // The same gain at 1 kHz as the analogue weighting, which is 0 dB there.
  gain_ = 1.0;
  gain_ = FrequencyWeighting::gain(weighting, 1000.0) / std::abs(response(1000.0));
}

// Two first-order high-pass sections s / (s + ω), by the bilinear transform pre-warped at ω.
void WeightingFilter::addHighPassPair(double fa, double fb) {
  const double k = 2.0 * rate_;
  const auto pole = [&](double f, double* gain) {
    const double w = k * std::tan(kPi * f / rate_);
    *gain = k / (k + w);
    return (k - w) / (k + w);
  };
  double ga = 0, gb = 0;
  const double pa = pole(fa, &ga);
  const double pb = pole(fb, &gb);
  Section& s = section_[sections_++];
  s.b0 = ga * gb;
  s.b1 = -2.0 * ga * gb;
  s.b2 = ga * gb;
  s.a1 = -(pa + pb);
  s.a2 = pa * pb;
}

// 1 / (1 + s/ω4)²: the double pole at its matched place, the numerator fitted.
void WeightingFilter::addHighFrequencyPole() {
  const double f4 = FrequencyWeighting::kF4;
  const double p = std::exp(-2.0 * kPi * f4 / rate_);
  // The numerator's power response is a quadratic in c = cos ω: q0 + q1·c + q2·c². Fit it
  // so that N(c) / D(c) ≈ T(f), the analogue power response, weighting relative errors.
  const double top = std::min(rate_ / 2.0, 20000.0);
  double m[3][3] = {};
  double v[3] = {};
  constexpr int kPoints = 200;
  for (int i = 0; i < kPoints; ++i) {
    const double f = top * i / (kPoints - 1);
    const double c = std::cos(2.0 * kPi * f / rate_);
    const double r = 1.0 + (f / f4) * (f / f4);
    const double target = 1.0 / (r * r);
    const double den = (1.0 + p * p - 2.0 * p * c) * (1.0 + p * p - 2.0 * p * c);
    const double w = 1.0 / (target * den);
    const double row[3] = {w, w * c, w * c * c};
    for (int a = 0; a < 3; ++a) {
      v[a] += row[a];
      for (int b = 0; b < 3; ++b) m[a][b] += row[a] * row[b];
    }
  }
  const auto q = solve3(m, v);

  // Spectral factorisation: each root r of the quadratic in c is a zero -β of the filter,
  // with (1 + β²) / (2β) = -r and |β| <= 1 (minimum phase); then |B|² = K²·4β1β2·N(c)/q2.
  Section& s = section_[sections_++];
  s.a1 = -2.0 * p;
  s.a2 = p * p;
  const Complex disc = std::sqrt(Complex(q[1] * q[1] - 4.0 * q[2] * q[0]));
  const Complex roots[2] = {(-q[1] + disc) / (2.0 * q[2]), (-q[1] - disc) / (2.0 * q[2])};
  Complex beta[2];
  for (int i = 0; i < 2; ++i) {
    const Complex t = -roots[i];
    beta[i] = t - std::sqrt(t * t - 1.0);
    if (std::abs(beta[i]) > 1.0) beta[i] = 1.0 / beta[i];
  }
  const Complex k2 = q[2] / (4.0 * beta[0] * beta[1]);
  const Complex b1 = beta[0] + beta[1];
  const Complex b2 = beta[0] * beta[1];
  const bool valid = std::isfinite(q[2]) && q[2] != 0.0 && k2.real() > 0.0 &&
                     std::fabs(k2.imag()) < 1e-9 * k2.real() && std::fabs(b1.imag()) < 1e-9 &&
                     std::fabs(b2.imag()) < 1e-9;
  if (valid) {
    const double k = std::sqrt(k2.real());
    s.b0 = k;
    s.b1 = k * b1.real();
    s.b2 = k * b2.real();
    return;
  }
  // A fit that has no real factors: the bilinear transform of the double pole, pre-warped
  // to it (never seen at the rates the program runs at, but always a valid filter).
  const double k = 2.0 * rate_;
  const double w = k * std::tan(kPi * f4 / rate_);
  const double g = w / (k + w);
  const double pole = (k - w) / (k + w);
  s.b0 = g * g;
  s.b1 = 2.0 * g * g;
  s.b2 = g * g;
  s.a1 = -2.0 * pole;
  s.a2 = pole * pole;
}

void WeightingFilter::process(const float* in, size_t stride, double* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = processSample(in[i * stride]);
}

void WeightingFilter::reset() {
  for (Section& s : section_) s.s1 = s.s2 = 0.0;
}

std::complex<double> WeightingFilter::response(double frequencyHz) const {
  const Complex zInverse = std::polar(1.0, -2.0 * kPi * frequencyHz / rate_);
  Complex h = gain_;
  for (int s = 0; s < sections_; ++s) h *= section_[s].response(zInverse);
  return h;
}

}  // namespace qv
