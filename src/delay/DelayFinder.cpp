#include "delay/DelayFinder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "platform/Assert.h"
#include "platform/FftBackend.h"
#include "platform/Vector.h"

namespace qv {
namespace {

void preparePlans(int32_t n) {
  // Ticks transform aligned copies of the ring windows, so only the aligned plans run;
  // they are made here, not in a tick, unless that would wait for FFTW.
  const fft::RealPlan& plan = fft::RealPlan::get(n);
  plan.prepare(fft::RealPlan::Transform::Forward);
  plan.prepare(fft::RealPlan::Transform::InverseDestroyingInput);
}

// Folds the spectra into the averages (power: Pxx, Pyy pairs; cross: Sxy), writes
// w·H_k/2 into spectrum bin k + 1 for k < half, and returns the sum of the per-bin
// coherence. reversedWindow[−k] is the window value at N − 1 − k.
QV_VECTOR_CLONES double averageBins(const float* __restrict reference,
                                    const float* __restrict measurement,
                                    const float* __restrict reversedWindow, float* __restrict power,
                                    float* __restrict cross, float* __restrict spectrum,
                                    size_t half) {
  double sum = 0.0;
#pragma omp simd reduction(+ : sum)
  for (size_t k = 0; k < half; ++k) {
    const float xr = reference[2 * k], xi = reference[2 * k + 1];
    const float yr = measurement[2 * k], yi = measurement[2 * k + 1];
    const float pxx = 0.5f * power[2 * k] + 0.5f * (xr * xr + xi * xi);
    const float pyy = 0.5f * power[2 * k + 1] + 0.5f * (yr * yr + yi * yi);
    const float sr = 0.5f * cross[2 * k] + 0.5f * (xr * yr + xi * yi);
    const float si = 0.5f * cross[2 * k + 1] + 0.5f * (xr * yi - xi * yr);
    power[2 * k] = pxx;
    power[2 * k + 1] = pyy;
    cross[2 * k] = sr;
    cross[2 * k + 1] = si;

    // A silent reference has no transfer function and silent channels no coherence; they
    // count as 0 rather than letting 0/0 poison the impulse and the mean.
    const float qr = sr / pxx;
    const float qi = si / pxx;
    const float hr = pxx > 0.0f ? qr : 0.0f;
    const float hi = pxx > 0.0f ? qi : 0.0f;
    const float denominator = pxx * pyy;
    const float coherence = (sr * sr + si * si) / denominator;
    sum += denominator > 0.0f ? static_cast<double>(coherence) : 0.0;

    const float w = reversedWindow[-static_cast<ptrdiff_t>(k)];
    spectrum[2 * (k + 1)] = 0.5f * (hr * w);
    spectrum[2 * (k + 1) + 1] = 0.5f * (hi * w);
  }
  return sum;
}

// Orders non-negative floats as their bit patterns do; NaN below everything.
inline int32_t magnitudeKey(float v) {
  const int32_t bits = std::bit_cast<int32_t>(v) & 0x7fffffff;
  return bits > 0x7f800000 ? -1 : bits;
}

// The largest magnitudeKey of x[0 … count).
QV_VECTOR_CLONES int32_t largestKey(const float* __restrict x, size_t count) {
  int32_t m = -1;
  for (size_t i = 0; i < count; ++i) {
    const int32_t key = magnitudeKey(x[i]);
    m = key > m ? key : m;
  }
  return m;
}

// Σ a[i]² + b[i]², in vector lanes: only whether it is finite matters.
QV_VECTOR_CLONES float sumOfSquares(const float* __restrict a, const float* __restrict b,
                                    size_t count) {
  float sum = 0.0f;
#pragma omp simd reduction(+ : sum)
  for (size_t i = 0; i < count; ++i) sum += a[i] * a[i] + b[i] * b[i];
  return sum;
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
  impulse = fft::allocateFloats(static_cast<size_t>(newPoints));
  power.assign(2 * static_cast<size_t>(half), 0.0f);
  cross.assign(2 * static_cast<size_t>(half), 0.0f);
  impulseSpectrum = fft::allocateFloats(2 * static_cast<size_t>(half) + 2);
  delay = 0.0f;
  preparePlans(newPoints);
}

bool DelayFinder::update(const float* reference, const float* measurement, double* coherenceSum) {
  const size_t n = static_cast<size_t>(points);
  const size_t bins = 2 * static_cast<size_t>(half);
  // One bad sample from a driver would otherwise stay in the averages for good.
  if (!std::isfinite(sumOfSquares(reference, measurement, bins))) return false;

  // The transfer function H_k sits at input position N − 1 − k of a forward transform
  // whose real part is the impulse. That real part is the forward transform of the
  // input's Hermitian part, so one inverse real transform of half the bins gives it:
  // bin j (1 ≤ j < N/2) carries H_{j−1}/2, bin N/2 carries Re H_{N/2−1}, bin 0 is empty.
  const float* window = engine->Window.data();
  float* spectrum = impulseSpectrum.get();
  spectrum[0] = 0.0f;
  spectrum[1] = 0.0f;
  *coherenceSum = averageBins(reference, measurement, window + n - 1, power.data(), cross.data(),
                              spectrum, static_cast<size_t>(half));
  // The last bin, N/2, is real and not halved: the same values again, unscaled.
  const size_t last = static_cast<size_t>(half) - 1;
  const float pxx = power[2 * last];
  const float hr = pxx > 0.0f ? cross[2 * last] / pxx : 0.0f;
  spectrum[2 * half] = hr * window[n - 1 - last];
  spectrum[2 * half + 1] = 0.0f;
  // The half spectrum is rebuilt whole at every update: the transform may overwrite it.
  fft::RealPlan::get(points).inverseDestroyingInput(spectrum, impulse.get());
  return true;
}

int32_t DelayFinder::findPeak() {
  // The first index of the largest |impulse| (NaN never wins; index 0 when nothing else
  // does). Non-negative floats order as their bit patterns, so the largest is an integer
  // maximum, taken per block in vector lanes; only one block is searched for its index.
  constexpr size_t kBlock = 256;
  const float* x = impulse.get();
  const size_t n = static_cast<size_t>(points);
  std::array<int32_t, fft::kMaxSize / kBlock> blockMax{};
  const size_t blocks = n / kBlock;
  int32_t largest = -1;
  for (size_t b = 0; b < blocks; ++b) {
    const int32_t m = largestKey(x + b * kBlock, kBlock);
    blockMax[b] = m;
    largest = m > largest ? m : largest;
  }
  int32_t peak = 0;
  if (largest >= 0) {
    size_t b = 0;
    while (blockMax[b] != largest) ++b;
    size_t i = b * kBlock;
    while (magnitudeKey(x[i]) != largest) ++i;
    peak = static_cast<int32_t>(i);
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
