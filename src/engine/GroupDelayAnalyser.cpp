#include "engine/GroupDelayAnalyser.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "platform/Assert.h"

namespace qv {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Running sums of P(k) = G(k+step)·conj(G(k)) times 1, k and k², real and imaginary:
// entry k of each array is the sum over the products below k.
void accumulate(const float* re, const float* im, size_t bins, size_t step,
                std::vector<double> (&sums)[6]) {
  double s[6] = {};
  for (auto& v : sums) v[0] = 0.0;
  for (size_t k = 0; k + step < bins; ++k) {
    const double pr = double{re[k + step]} * re[k] + double{im[k + step]} * im[k];
    const double pi = double{im[k + step]} * re[k] - double{re[k + step]} * im[k];
    const auto kd = static_cast<double>(k);
    s[0] += pr;
    s[1] += pi;
    s[2] += kd * pr;
    s[3] += kd * pi;
    s[4] += kd * kd * pr;
    s[5] += kd * kd * pi;
    for (int i = 0; i < 6; ++i) sums[i][k + 1] = s[i];
  }
}

// The angle of Σ (k - first + 1)(last - k)·P(k) over k = first … last, the parabolic
// taper expanded as -k² + (first + last - 1)·k + last·(1 - first).
double taperedAngle(const std::vector<double> (&sums)[6], size_t first, size_t last) {
  const double c1 = static_cast<double>(first + last) - 1.0;
  const double c0 = static_cast<double>(last) * (1.0 - static_cast<double>(first));
  const auto span = [&](int i) { return sums[i][last + 1] - sums[i][first]; };
  const double re = -span(4) + c1 * span(2) + c0 * span(0);
  const double im = -span(5) + c1 * span(3) + c0 * span(1);
  return std::atan2(im, re);
}

}  // namespace

GroupDelayAnalyser::GroupDelayAnalyser(int32_t fftSize, int64_t samplingRate, int32_t octResolution)
    : axis_(nullptr, fftSize, samplingRate, octResolution) {
  QV_ASSERT(fftSize >= 4 * kMinSpanBins);
  const auto bins = static_cast<size_t>(fftSize) / 2 + 1;
  for (StepSums* step : {&one_, &three_})
    for (auto& v : step->sums) v.assign(bins, 0.0);
  crossPower_.assign(bins + 1, 0.0);
  autoPower_.assign(bins + 1, 0.0);
  values_.assign(static_cast<size_t>(axis_.bandCount()), std::numeric_limits<float>::quiet_NaN());
  coherence_.assign(values_.size(), std::numeric_limits<float>::quiet_NaN());
  buildSpans();
}

void GroupDelayAnalyser::setSmoothing(int64_t smoothing) {
  QV_ASSERT(smoothing >= 1 && smoothing <= 96);
  smoothing_ = smoothing;
  buildSpans();
}

void GroupDelayAnalyser::buildSpans() {
  const int32_t bands = axis_.bandCount();
  const int32_t half = axis_.fftSize() / 2;
  const double binsPerHz = axis_.fftSize() / static_cast<double>(axis_.samplingRate());
  const double ratio = std::pow(2.0, 0.5 / static_cast<double>(smoothing_));
  lo_.assign(static_cast<size_t>(bands), 1);
  hi_.assign(static_cast<size_t>(bands), 1 + kMinSpanBins);
  const float* own = axis_.bandStartEndPt();
  for (int32_t b = 0; b < bands; ++b) {
    const double centre = axis_.frequencyForBandIndex(static_cast<float>(b)) * binsPerHz;
    double lo = std::min(centre / ratio, static_cast<double>(own[2 * b]));
    double hi = std::max(centre * ratio, static_cast<double>(own[2 * b + 1]));
    if (hi - lo < kMinSpanBins) {
      lo = centre - kMinSpanBins / 2.0;
      hi = centre + kMinSpanBins / 2.0;
    }
    // Bin 0 (DC) has no phase to speak of; the span keeps its width at either end.
    auto first = static_cast<int32_t>(std::lround(lo));
    auto last = static_cast<int32_t>(std::lround(hi));
    if (first < 1) {
      last += 1 - first;
      first = 1;
    }
    if (last > half) {
      first = std::max(1, first - (last - half));
      last = half;
    }
    lo_[b] = first;
    hi_[b] = last;
  }
}

bool GroupDelayAnalyser::process(const TFDataSource::AveragedSpectra& spectra) {
  const int32_t n = axis_.fftSize();
  if (spectra.bins != n / 2 + 1) return false;
  const auto bins = static_cast<size_t>(spectra.bins);
  accumulate(spectra.crossRe, spectra.crossIm, bins, 1, one_.sums);
  accumulate(spectra.crossRe, spectra.crossIm, bins, 3, three_.sums);
  double cross = 0.0, power = 0.0;
  crossPower_[0] = autoPower_[0] = 0.0;
  for (size_t k = 0; k < bins; ++k) {
    cross += double{spectra.crossRe[k]} * spectra.crossRe[k] +
             double{spectra.crossIm[k]} * spectra.crossIm[k];
    power += double{spectra.powerA[k]} * spectra.powerB[k];
    crossPower_[k + 1] = cross;
    autoPower_[k + 1] = power;
  }

  // The phase step of one bin, in radians, to milliseconds.
  const double toMs = -1000.0 * n / (kTwoPi * static_cast<double>(axis_.samplingRate()));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto bands = values_.size();
  for (size_t b = 0; b < bands; ++b) {
    const auto lo = static_cast<size_t>(lo_[b]);
    const auto hi = static_cast<size_t>(hi_[b]);
    const double c =
        (crossPower_[hi + 1] - crossPower_[lo]) / (autoPower_[hi + 1] - autoPower_[lo]);
    coherence_[b] = static_cast<float>(c);
    if (!(c >= threshold_)) {
      values_[b] = nan;
      continue;
    }
    // Steps (k, k+1) for k = lo … hi-1, steps (k, k+3) for k = lo … hi-3.
    const double coarse = taperedAngle(one_.sums, lo, hi - 1);
    double fine = taperedAngle(three_.sums, lo, hi - 3);
    fine += kTwoPi * std::round((3.0 * coarse - fine) / kTwoPi);
    values_[b] = static_cast<float>(fine / 3.0 * toMs) + addedMs_;
  }
  return true;
}

}  // namespace qv
