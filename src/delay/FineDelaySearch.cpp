#include "delay/FineDelaySearch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "platform/Assert.h"
#include "platform/Vector.h"

namespace qv {
namespace {

// Each tick's frame weighs this much in the averages: about three ticks of memory.
constexpr float kAverage = 0.3f;
// The band taken by default: from the third bin up to 0.47 of the rate (the anti-alias
// filters of converters and of the decimation roll off above).
constexpr double kTopOfBand = 0.47;

// Σ c_k·e^(iω_k·t), Σ ω_k·c_k·e^(iω_k·t) and Σ ω_k²·c_k·e^(iω_k·t) over bins 0 … n/2 of
// the interleaved spectrum c (ω_k = w0·k), as (re, im) pairs. Four bins at a time, each lane
// with its own running phase (turned by four bins' step): one running phase would make
// every bin wait for the one before. The phases are taken afresh every 512 bins, so that
// rounding does not build up along the steps.
QV_VECTOR_CLONES void turnedSums(const float* s, int32_t n, double w0, double t, double sums[6]) {
  constexpr int32_t kLanes = 4;
  const double stepRe = std::cos(w0 * t * kLanes), stepIm = std::sin(w0 * t * kLanes);
  double phaseRe[kLanes] = {}, phaseIm[kLanes] = {};
  double s0Re[kLanes] = {}, s0Im[kLanes] = {}, s1Re[kLanes] = {}, s1Im[kLanes] = {};
  double s2Re[kLanes] = {}, s2Im[kLanes] = {};
  const auto phaseAt = [&](int32_t k, double* re, double* im) {
    const double angle = w0 * std::fmod(t * k, static_cast<double>(n));
    *re = std::cos(angle), *im = std::sin(angle);
  };
  for (int32_t k = 0; k < n / 2; k += kLanes) {
    if (k % 512 == 0)
      for (int32_t l = 0; l < kLanes; ++l) phaseAt(k + l, &phaseRe[l], &phaseIm[l]);
    for (int32_t l = 0; l < kLanes; ++l) {
      const double cRe = s[2 * (k + l)], cIm = s[2 * (k + l) + 1];
      const double termRe = cRe * phaseRe[l] - cIm * phaseIm[l];
      const double termIm = cRe * phaseIm[l] + cIm * phaseRe[l];
      const double w = w0 * (k + l);
      s0Re[l] += termRe, s0Im[l] += termIm;
      s1Re[l] += termRe * w, s1Im[l] += termIm * w;
      s2Re[l] += termRe * (w * w), s2Im[l] += termIm * (w * w);
      const double nextRe = phaseRe[l] * stepRe - phaseIm[l] * stepIm;
      phaseIm[l] = phaseRe[l] * stepIm + phaseIm[l] * stepRe;
      phaseRe[l] = nextRe;
    }
  }
  // The Nyquist bin.
  double pRe, pIm;
  phaseAt(n / 2, &pRe, &pIm);
  const double cRe = s[n], cIm = s[n + 1], w = w0 * (static_cast<double>(n) / 2.0);
  const double termRe = cRe * pRe - cIm * pIm, termIm = cRe * pIm + cIm * pRe;
  sums[0] = termRe, sums[1] = termIm;
  sums[2] = termRe * w, sums[3] = termIm * w;
  sums[4] = termRe * (w * w), sums[5] = termIm * (w * w);
  for (int32_t l = 0; l < kLanes; ++l) {
    sums[0] += s0Re[l], sums[1] += s0Im[l];
    sums[2] += s1Re[l], sums[3] += s1Im[l];
    sums[4] += s2Re[l], sums[5] += s2Im[l];
  }
}

}  // namespace

void FineDelaySearch::setUp(uint32_t rate) {
  QV_ASSERT(rate > 0);
  rate_ = rate;
  n_ = rate <= 48000 ? 32768 : 65536;
  const auto n = static_cast<size_t>(n_);
  const size_t windowLength = n / 2;
  hann_ = fft::allocateFloats(windowLength);
  for (size_t i = 0; i < windowLength; ++i)
    hann_[i] = static_cast<float>(
        0.5 - 0.5 * std::cos(2.0 * M_PI * (static_cast<double>(i) + 0.5) / windowLength));
  work_ = fft::allocateFloats(n);
  x_ = fft::allocateFloats(n + 2);
  y_ = fft::allocateFloats(n + 2);
  for (auto* a : {&sxx_, &syy_, &sxyRe_, &sxyIm_, &mask_}) *a = fft::allocateFloats(n / 2 + 1);
  spectrum_ = fft::allocateFloats(2 * n);
  analytic_ = fft::allocateFloats(2 * n);
  envelope_ = fft::allocateFloats(n);
  scratch_ = fft::allocateFloats(n);
  impulse_ = fft::allocateFloats(n);
  // Made here, so that no search ever plans.
  fft::RealPlan::get(n_).forward(work_.get(), x_.get());
  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum_.get(), analytic_.get());
  setBand(bandLo_, bandHi_);
  frames_ = 0;
}

void FineDelaySearch::setBand(double loHz, double hiHz) {
  bandLo_ = loHz;
  bandHi_ = hiHz;
  if (n_ == 0) return;
  const double binHz = static_cast<double>(rate_) / n_;
  firstBin_ = 2;
  lastBin_ = static_cast<int32_t>(kTopOfBand * n_);
  float* mask = mask_.get();
  for (int32_t k = 0; k <= n_ / 2; ++k) {
    double m = k >= firstBin_ && k <= lastBin_ ? 1.0 : 0.0;
    if (hasBand() && m > 0.0) {
      // A raised-cosine shoulder of a third of an octave outside each edge, so that the
      // band's edges do not ring through the impulse.
      const double f = k * binHz;
      const double octavesOut = f < loHz   ? std::log2(loHz / f)
                                : f > hiHz ? std::log2(f / hiHz)
                                           : 0.0;
      m = octavesOut >= 1.0 / 3.0 ? 0.0 : 0.5 + 0.5 * std::cos(M_PI * octavesOut * 3.0);
    }
    mask[k] = static_cast<float>(m);
  }
}

double FineDelaySearch::windowMiddle(int64_t start, int64_t begin) const {
  const int64_t half = n_ / 2;
  const int64_t quarter = half / 2;
  if (start >= begin) return static_cast<double>(start + quarter);
  // Early in the stream the window reaches back before its first sample: the middle is
  // that of the window's weight over the samples there are.
  double weight = 0.0, moment = 0.0;
  for (int64_t i = begin - start; i < half; ++i) {
    weight += hann_[static_cast<size_t>(i)];
    moment += hann_[static_cast<size_t>(i)] * static_cast<double>(start + i);
  }
  return weight > 0.0 ? moment / weight : static_cast<double>(start + quarter);
}

void FineDelaySearch::window(const SampleHistory& history, int64_t start, float* spectrum) {
  const auto n = static_cast<size_t>(n_);
  float* w = work_.get();
  std::memset(w, 0, n / 4 * sizeof(float));
  history.copy(start, n / 2, w + n / 4);
  for (size_t i = 0; i < n / 2; ++i) w[n / 4 + i] *= hann_[i];
  std::memset(w + 3 * n / 4, 0, n / 4 * sizeof(float));
  fft::RealPlan::get(n_).forward(w, spectrum);
}

FineDelaySearch::Result FineDelaySearch::search(const SampleHistory& measurement,
                                                const SampleHistory& reference, int64_t offset) {
  QV_ASSERT(n_ > 0);
  const int64_t quarter = n_ / 4;
  // The active half of the measurement ends as late as both histories allow.
  const int64_t end = measurement.end() + std::min<int64_t>(offset, 0);
  const int64_t start = end - 2 * quarter;
  window(measurement, start, y_.get());
  window(reference, start - offset, x_.get());

  const float a = frames_ == 0 ? 1.0f : kAverage;
  const float b = 1.0f - a;
  ++frames_;
  midpoint_ = a * windowMiddle(start, measurement.begin()) + b * midpoint_;
  const float* x = x_.get();
  const float* y = y_.get();
  const float* mask = mask_.get();
  float* sxx = sxx_.get();
  float* syy = syy_.get();
  float* sr = sxyRe_.get();
  float* si = sxyIm_.get();
  float* spectrum = spectrum_.get();
  std::memset(spectrum, 0, 2 * static_cast<size_t>(n_) * sizeof(float));
  double weightSum = 0.0, coherenceSum = 0.0, powerSum = 0.0;
  int32_t bandBins = 0;
  // Per bin, the coherent measurement power (the scratch is free until the peak is read).
  float* power = scratch_.get();
  for (int32_t k = 0; k <= n_ / 2; ++k) {
    const float xr = x[2 * k], xi = x[2 * k + 1], yr = y[2 * k], yi = y[2 * k + 1];
    sxx[k] = a * (xr * xr + xi * xi) + b * sxx[k];
    syy[k] = a * (yr * yr + yi * yi) + b * syy[k];
    sr[k] = a * (xr * yr + xi * yi) + b * sr[k];
    si[k] = a * (xr * yi - xi * yr) + b * si[k];
    power[k] = 0.0f;
    if (mask[k] <= 0.0f || !(sxx[k] > 0.0f) || !(syy[k] > 0.0f)) continue;
    const double coherence =
        std::min(1.0, (static_cast<double>(sr[k]) * sr[k] + static_cast<double>(si[k]) * si[k]) /
                          (static_cast<double>(sxx[k]) * syy[k]));
    if (!std::isfinite(coherence)) continue;
    if (mask[k] >= 1.0f) coherenceSum += coherence, ++bandBins;
    const double w = (coherenceWeighting_ ? coherence : 1.0) * mask[k];
    const double scale = 2.0 * w / sxx[k];
    spectrum[2 * k] = static_cast<float>(scale * sr[k]);
    spectrum[2 * k + 1] = static_cast<float>(scale * si[k]);
    weightSum += 2.0 * w;
    power[k] = static_cast<float>(w * syy[k]);
    powerSum += power[k];
  }

  Result result;
  result.midpoint = midpoint_;
  result.meanCoherence = bandBins > 0 ? coherenceSum / bandBins : 0.0;
  // Where 95 % of the coherent measurement power lies below.
  double cumulative = 0.0;
  for (int32_t k = 0; k <= n_ / 2 && powerSum > 0.0; ++k) {
    cumulative += power[k];
    if (cumulative >= 0.95 * powerSum) {
      result.topFrequencyHz = static_cast<double>(k) * rate_ / n_;
      break;
    }
  }

  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum, analytic_.get());
  float* z = analytic_.get();
  const float scale = weightSum > 0.0 ? static_cast<float>(1.0 / weightSum) : 0.0f;
  for (int32_t i = 0; i < 2 * n_; ++i) z[i] *= scale;
  // Lags −n/2 … n/2 − 1: the second half of the circle, then the first.
  const int32_t halfN = n_ / 2;
  for (int32_t i = 0; i < halfN; ++i) impulse_[i] = z[2 * (i + halfN)];
  for (int32_t i = halfN; i < n_; ++i) impulse_[i] = z[2 * (i - halfN)];

  // The noise floor over the central lags that both windows' audio reaches (at the start of
  // the stream they hold silence from before it, which the floor must not count).
  // Lag l pairs reference sample start − offset + u with measurement sample start + u + l;
  // neither history holds anything before its begin().
  const int64_t half = 2 * quarter;
  const int64_t lowest = std::max<int64_t>(
      -quarter / 2, std::max<int64_t>(0, measurement.begin() - start) - (half - 1));
  const int64_t highest = std::min<int64_t>(
      quarter / 2, half - 1 - std::max<int64_t>(0, reference.begin() + offset - start));
  result.peak = ImpulsePeak::read(z, n_, static_cast<int32_t>(lowest),
                                  static_cast<int32_t>(highest), envelope_.get(), scratch_.get());
  bool negative = false;
  const int32_t at = result.peak.strongestWithinLobe(z, n_, &negative);
  const bool byEnvelope = hasBand();
  double t = refine(byEnvelope ? result.peak.index : at, byEnvelope, negative);
  const int32_t halfLength = n_ / 2;
  if (t >= halfLength) t -= n_;
  if (t < -halfLength) t += n_;
  result.lag = t;
  double v[2], d1[2], d2[2];
  evaluate(t, v, d1, d2);
  result.inverted = v[0] * scale < 0.0;
  return result;
}

void FineDelaySearch::evaluate(double t, double z[2], double dz[2], double ddz[2]) const {
  const double w0 = 2.0 * M_PI / n_;
  double sums[6];
  turnedSums(spectrum_.get(), n_, w0, t, sums);
  const std::complex<double> sum0(sums[0], sums[1]), sum1(sums[2], sums[3]), sum2(sums[4], sums[5]);
  // z' = Σ iω·c·e^(iωt), z'' = −Σ ω²·c·e^(iωt).
  z[0] = sum0.real(), z[1] = sum0.imag();
  dz[0] = -sum1.imag(), dz[1] = sum1.real();
  ddz[0] = -sum2.real(), ddz[1] = -sum2.imag();
}

double FineDelaySearch::refine(int32_t index, bool envelope, bool negative) const {
  double t = index;
  for (int iteration = 0; iteration < 4; ++iteration) {
    double z[2], dz[2], ddz[2];
    evaluate(t, z, dz, ddz);
    double first, second;
    if (envelope) {
      // The peak of |z|²: (|z|²)' = 2·Re(conj z·z'), (|z|²)'' = 2·(|z'|² + Re(conj z·z'')).
      first = z[0] * dz[0] + z[1] * dz[1];
      second = dz[0] * dz[0] + dz[1] * dz[1] + z[0] * ddz[0] + z[1] * ddz[1];
    } else {
      // The peak (or the trough, when inverted) of the real part.
      first = dz[0];
      second = ddz[0];
      if (negative) first = -first, second = -second;
    }
    if (!(second < 0.0)) break;  // not near a maximum: keep the sample
    const double step = std::clamp(-first / second, -0.5, 0.5);
    t += step;
    if (std::fabs(step) < 1e-7) break;
  }
  return std::clamp(t, index - 1.5, index + 1.5);
}

}  // namespace qv
