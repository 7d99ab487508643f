#include "delay/DelayFinder.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"
#include "platform/FftBackend.h"

namespace qv {
namespace {

void preparePlans(int32_t n) {
  // The backend plans each variant on its first use, and ring windows start at any
  // sample, so both the aligned and the unaligned plans are made here, not in a tick.
  const fft::RealPlan& plan = fft::RealPlan::get(n);
  auto real = fft::allocateFloats(static_cast<size_t>(n) + 4);
  auto spectrum = fft::allocateFloats(static_cast<size_t>(n) + 4);
  plan.forward(real.get(), spectrum.get());
  plan.forward(real.get() + 1, spectrum.get());
  plan.inverse(spectrum.get(), real.get());
  plan.inverse(spectrum.get() + 1, real.get() + 1);
}

}  // namespace

void DelayFinder::setUp(int32_t newPoints, int32_t newSamplingRate) {
  QV_ASSERT(fft::isSupportedSize(newPoints));
  QV_ASSERT(newSamplingRate >= 0);
  points = newPoints;
  samplingRate = newSamplingRate;
  half = newPoints / 2;
  // Its tables depend only on the length, and building them is the costly part.
  if (engine && engine->Points == newPoints) {
    engine->SampleRate = newSamplingRate;
    std::fill(engine->Work.begin(), engine->Work.end(), 0.0f);
  } else {
    engine = std::make_unique<Fft>(newPoints, newSamplingRate, 0);
  }
  impulse.assign(static_cast<size_t>(newPoints), 0.0f);
  power.assign(2 * static_cast<size_t>(half), 0.0f);
  cross.assign(2 * static_cast<size_t>(half), 0.0f);
  impulseSpectrum.assign(2 * static_cast<size_t>(half) + 2, 0.0f);
  delay = 0.0f;
  preparePlans(newPoints);
}

bool DelayFinder::update(const float* reference, const float* measurement, double* coherenceSum) {
  const size_t n = static_cast<size_t>(points);
  const size_t bins = 2 * static_cast<size_t>(half);
  // One bad sample from a driver would otherwise stay in the averages for good.
  float energy = 0.0f;
  for (size_t i = 0; i < bins; ++i) {
    energy += reference[i] * reference[i] + measurement[i] * measurement[i];
  }
  if (!std::isfinite(energy)) return false;

  const float* window = engine->Window.data();
  float* spectrum = impulseSpectrum.data();
  double sum = 0.0;

  // The transfer function H_k sits at input position N − 1 − k of a forward transform
  // whose real part is the impulse. That real part is the forward transform of the
  // input's Hermitian part, so one inverse real transform of half the bins gives it:
  // bin j (1 ≤ j < N/2) carries H_{j−1}/2, bin N/2 carries Re H_{N/2−1}, bin 0 is empty.
  spectrum[0] = 0.0f;
  spectrum[1] = 0.0f;
  for (size_t k = 0; k < static_cast<size_t>(half); ++k) {
    const float xr = reference[2 * k], xi = reference[2 * k + 1];
    const float yr = measurement[2 * k], yi = measurement[2 * k + 1];
    float& pxx = power[2 * k];
    float& pyy = power[2 * k + 1];
    float& sr = cross[2 * k];
    float& si = cross[2 * k + 1];
    pxx = 0.5f * pxx + 0.5f * (xr * xr + xi * xi);
    pyy = 0.5f * pyy + 0.5f * (yr * yr + yi * yi);
    sr = 0.5f * sr + 0.5f * (xr * yr + xi * yi);
    si = 0.5f * si + 0.5f * (xr * yi - xi * yr);

    // A silent reference has no transfer function and silent channels no coherence; they
    // count as 0 rather than letting 0/0 poison the impulse and the mean.
    float hr = 0.0f, hi = 0.0f;
    if (pxx > 0.0f) {
      hr = sr / pxx;
      hi = si / pxx;
    }
    const float denominator = pxx * pyy;
    if (denominator > 0.0f) sum += (sr * sr + si * si) / denominator;

    const float w = window[n - 1 - k];
    hr *= w;
    hi *= w;
    if (k + 1 < static_cast<size_t>(half)) {
      spectrum[2 * (k + 1)] = 0.5f * hr;
      spectrum[2 * (k + 1) + 1] = 0.5f * hi;
    } else {
      spectrum[2 * (k + 1)] = hr;
      spectrum[2 * (k + 1) + 1] = 0.0f;
    }
  }
  fft::RealPlan::get(points).inverse(spectrum, impulse.data());
  *coherenceSum = sum;
  return true;
}

int32_t DelayFinder::findPeak() {
  float largest = -1.0f / 8388608.0f;  // −2^−23: index 0 wins even when all are 0
  int32_t peak = 0;
  for (int32_t m = 0; m < points; ++m) {
    const float magnitude = std::fabs(impulse[static_cast<size_t>(m)]);
    if (magnitude > largest) {
      largest = magnitude;
      peak = m;
    }
  }
  if (samplingRate <= 0) {  // no rate announced yet: no time scale to report in
    delay = 0.0f;
    return peak;
  }
  const float rate = static_cast<float>(samplingRate);
  delay = peak < half ? static_cast<float>(peak) / rate : -static_cast<float>(points - peak) / rate;
  return peak;
}

}  // namespace qv
