#include "delay/CoarseDelaySearch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Assert.h"
#include "platform/Vector.h"

namespace qv {
namespace {

constexpr double kLowRate = 6000.0;  // at most; the factor is a whole number
// The reference's window is at least this long (about 1.4 s at the lower rate).
constexpr int32_t kMinWindow = 8192;
constexpr float kAverage = 0.5f;
// Above this fraction of the lower rate the decimation filter has begun to fall.
constexpr double kTopOfBand = 0.35;
constexpr size_t kPushChunk = 4096;

// Takes this tick's spectra x (reference) and y (measurement) into the averaged cross
// spectrum with weight `a`, and writes its phase alone (2·Sxy/|Sxy|) for the bins in the
// band with a finite, non-zero magnitude, zero for the others; returns how many there are.
// The magnitude is that of hypotf (in double, then rounded), written out so that the bins
// go through in vector lanes.
QV_VECTOR_CLONES int32_t phaseOnly(const float* __restrict x, const float* __restrict y,
                                   const float* __restrict mask, float a, int32_t count,
                                   float* __restrict crossRe, float* __restrict crossIm,
                                   float* __restrict spectrum) {
  int32_t taken = 0;
  for (int32_t k = 0; k < count; ++k) {
    const float xr = x[2 * k], xi = x[2 * k + 1], yr = y[2 * k], yi = y[2 * k + 1];
    const float re = a * (xr * yr + xi * yi) + (1.0f - a) * crossRe[k];
    const float im = a * (xr * yi - xi * yr) + (1.0f - a) * crossIm[k];
    crossRe[k] = re, crossIm[k] = im;
    const auto magnitude =
        static_cast<float>(std::sqrt(static_cast<double>(re) * re + static_cast<double>(im) * im));
    const bool in =
        (mask[k] > 0.0f) & (magnitude > 0.0f) & (magnitude <= std::numeric_limits<float>::max());
    const float divisor = in ? magnitude : 1.0f;
    spectrum[2 * k] = in ? 2.0f * re / divisor : 0.0f;
    spectrum[2 * k + 1] = in ? 2.0f * im / divisor : 0.0f;
    taken += in ? 1 : 0;
  }
  return taken;
}

}  // namespace

void CoarseDelaySearch::setUp(uint32_t rate, double rangeSeconds, SearchScratch& shared) {
  QV_ASSERT(rate > 0);
  QV_ASSERT(rangeSeconds > 0.0 && rangeSeconds <= kMaxRangeSeconds);
  rate_ = rate;
  const int factor = std::max(1, static_cast<int>(std::ceil(rate / kLowRate)));
  lowRate_ = static_cast<double>(rate) / factor;
  measurement_.setUp(factor);
  reference_.setUp(factor);
  range_ = static_cast<int32_t>(std::ceil(rangeSeconds * lowRate_)) + 1;
  n_ = static_cast<int32_t>(std::bit_ceil(static_cast<uint32_t>(2 * range_ + kMinWindow)));
  QV_ASSERT(fft::isSupportedSize(n_));
  const auto n = static_cast<size_t>(n_);
  measurementLow_.reset(n);
  referenceLow_.reset(n);
  decimated_ = fft::allocateFloats(kPushChunk / static_cast<size_t>(factor) + 2);
  const size_t window = n - 2 * static_cast<size_t>(range_);
  hann_ = fft::allocateFloats(window);
  for (size_t i = 0; i < window; ++i)
    hann_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / window));
  work_ = fft::allocateFloats(n);
  for (auto* a : {&crossRe_, &crossIm_, &mask_}) *a = fft::allocateFloats(n / 2 + 1);
  spectrum_ = fft::allocateFloats(2 * n);
  shared_ = &shared;
  shared.reserve(n_);
  fft::RealPlan::get(n_).forward(work_.get(), shared.x());
  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum_.get(), shared.analytic());
  setBand(0.0, 0.0);
  frames_ = 0;
}

void CoarseDelaySearch::setBand(double loHz, double hiHz) {
  if (n_ == 0) return;
  const double binHz = lowRate_ / n_;
  const bool band = loHz < hiHz;
  for (int32_t k = 0; k <= n_ / 2; ++k) {
    const double f = k * binHz;
    bool in = k >= 1 && f <= kTopOfBand * lowRate_;
    // A band a little wider than asked: here only the arrival's rough place counts.
    if (band) in = in && f >= loHz / 1.5 && f <= hiHz * 1.5;
    mask_[k] = in ? 1.0f : 0.0f;
  }
}

void CoarseDelaySearch::push(const float* frames, size_t count) {
  while (count > 0) {
    const size_t take = std::min(count, kPushChunk);
    size_t made = measurement_.push(frames, take, 2, decimated_.get());
    measurementLow_.push(decimated_.get(), made);
    made = reference_.push(frames + 1, take, 2, decimated_.get());
    referenceLow_.push(decimated_.get(), made);
    frames += 2 * take;
    count -= take;
  }
}

CoarseDelaySearch::Result CoarseDelaySearch::search() {
  QV_ASSERT(n_ > 0);
  const auto n = static_cast<size_t>(n_);
  const int64_t start = measurementLow_.end() - n_;
  const size_t window = n - 2 * static_cast<size_t>(range_);
  float* w = work_.get();
  float* x = shared_->x();
  float* y = shared_->y();
  // The whole measurement window, as it is.
  measurementLow_.copy(start, n, w);
  fft::RealPlan::get(n_).forward(w, y);
  // The reference's middle, windowed, the range left free on either side.
  std::memset(w, 0, n * sizeof(float));
  referenceLow_.copy(start + range_, window, w + range_);
  for (size_t i = 0; i < window; ++i) w[static_cast<size_t>(range_) + i] *= hann_[i];
  fft::RealPlan::get(n_).forward(w, x);

  const float a = frames_ == 0 ? 1.0f : kAverage;
  ++frames_;
  // Above bin n/2 the spectrum stays zero from setUp.
  const int32_t bins =
      phaseOnly(x, y, mask_.get(), a, n_ / 2 + 1, crossRe_.get(), crossIm_.get(), spectrum_.get());
  // Scaled before the inverse transform rather than after: half as many values.
  const double weightSum = 2.0 * bins;
  const float scale = weightSum > 0.0 ? static_cast<float>(1.0 / weightSum) : 0.0f;
  vec::vsmul(spectrum_.get(), scale, spectrum_.get(), n + 2);
  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum_.get(), shared_->analytic());
  const float* z = shared_->analytic();

  Result result;
  // The noise floor over the lags within the range that both windows' audio reaches: lag l
  // pairs reference sample start + i (i from range_ on) with measurement sample start + i + l,
  // and the stream holds nothing before its sample 0.
  const int64_t firstI = std::max<int64_t>(range_, -start);
  const int64_t lastI = range_ + static_cast<int64_t>(window) - 1;
  const int64_t lowest = std::max<int64_t>(-range_, std::max<int64_t>(0, -start) - lastI);
  const int64_t highest = std::min<int64_t>(range_, n_ - 1 - firstI);
  result.peak = ImpulsePeak::read(z, n_, static_cast<int32_t>(lowest),
                                  static_cast<int32_t>(std::max(highest, lowest - 1)),
                                  shared_->envelope(), shared_->scratch());
  int32_t lag = result.peak.index;
  if (lag >= n_ / 2) lag -= n_;
  // Between the low-rate samples by the parabola through the envelope's top three.
  const float* e = shared_->envelope();
  const float left = e[(result.peak.index + n_ - 1) % n_];
  const float mid = e[result.peak.index];
  const float right = e[(result.peak.index + 1) % n_];
  const double curvature = static_cast<double>(left) - 2.0 * mid + right;
  const double shift = curvature < 0.0 ? 0.5 * (left - right) / curvature : 0.0;
  result.lag = (lag + std::clamp(shift, -0.5, 0.5)) * factor();
  result.inRange = std::abs(lag) <= range_;
  return result;
}

}  // namespace qv
