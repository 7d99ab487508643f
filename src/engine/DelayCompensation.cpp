#include "engine/DelayCompensation.h"

#include <cmath>
#include <complex>

#include "platform/Assert.h"

namespace qv {
namespace {

// Whole samples and the rest of a channel's delay; the rest lies in [−0.5, 0.5].
void split(double samples, uint32_t* whole, double* rest) {
  const double rounded = std::nearbyint(samples);
  *whole = static_cast<uint32_t>(rounded);
  *rest = samples - rounded;
}

// Calls f(k, e^(+iω_k·samples)) for k = 0 … bins−1. One rotation step per bin, re-seeded
// every 256 bins from the reduced angle (ω_k·samples reaches 1e6 radians for a delay of
// seconds), so that in double precision the error stays near 1e−13.
template <typename F>
void forEachPhase(size_t bins, int32_t n, double samples, F f) {
  const std::complex<double> increment =
      std::polar(1.0, 2.0 * M_PI * samples / static_cast<double>(n));
  std::complex<double> z;
  for (size_t k = 0; k < bins; ++k) {
    if (k % 256 == 0) {
      const double turns = samples * static_cast<double>(k) / static_cast<double>(n);
      z = std::polar(1.0, 2.0 * M_PI * (turns - std::floor(turns)));
    }
    f(k, z);
    z *= increment;
  }
}

}  // namespace

void DelayCompensation::resize(int32_t fftSize) {
  QV_ASSERT(fftSize > 0 && fftSize % 2 == 0);
  n_ = fftSize;
  const auto bins = static_cast<size_t>(fftSize) / 2 + 1;
  phaseRe_ = fft::allocateFloats(bins);
  phaseIm_ = fft::allocateFloats(bins);
  left_ = right_ = net_ = fraction_ = 0.0;
  wholeLeft_ = wholeRight_ = 0;
}

void DelayCompensation::set(double leftSamples, double rightSamples, bool swapped) {
  QV_ASSERT(n_ > 0);
  QV_ASSERT(leftSamples >= 0.0 && rightSamples >= 0.0);
  left_ = leftSamples;
  right_ = rightSamples;
  double restLeft = 0.0, restRight = 0.0;
  split(leftSamples, &wholeLeft_, &restLeft);
  split(rightSamples, &wholeRight_, &restRight);
  const double a = swapped ? rightSamples : leftSamples;
  const double b = swapped ? leftSamples : rightSamples;
  net_ = a - b;
  double fraction = swapped ? restRight - restLeft : restLeft - restRight;
  if (std::fabs(fraction) < kFractionFloor) fraction = 0.0;
  if (fraction != fraction_ && fraction != 0.0)
    phases(phaseRe_.get(), phaseIm_.get(), static_cast<size_t>(n_) / 2 + 1, n_, fraction);
  fraction_ = fraction;
}

void DelayCompensation::phases(float* re, float* im, size_t bins, int32_t n, double samples) {
  forEachPhase(bins, n, samples, [re, im](size_t k, std::complex<double> z) {
    re[k] = static_cast<float>(z.real());
    im[k] = static_cast<float>(z.imag());
  });
}

void DelayCompensation::rotate(float* re, float* im, size_t bins, int32_t n, double samples) {
  forEachPhase(bins, n, samples, [re, im](size_t k, std::complex<double> z) {
    const double r = re[k], i = im[k];
    re[k] = static_cast<float>(r * z.real() - i * z.imag());
    im[k] = static_cast<float>(r * z.imag() + i * z.real());
  });
}

}  // namespace qv
