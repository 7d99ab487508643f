#include "delay/FineDelaySearch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

#include "platform/Assert.h"
#include "platform/Vector.h"

namespace qv {
namespace {

// Each tick's frame weighs this much in the averages: about three ticks of memory.
constexpr float kAverage = 0.3f;
// The band taken by default: from the third bin up to 0.47 of the rate (the anti-alias
// filters of converters and of the decimation roll off above).
constexpr double kTopOfBand = 0.47;
// A Newton step shorter than this (in samples) moves the impulse's value on by its
// derivatives instead of a new evaluation.
constexpr double kShortStep = 1e-3;
// The peak is read to this fraction of a sample.
constexpr double kLastStep = 1e-7;

// Four bins side by side: each vector operation rounds as the same operation on one value.
using Floats4 = float __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
using Longs4 = int64_t __attribute__((vector_size(32)));

Floats4 load4(const float* p) {
  Floats4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void store4(float* p, Floats4 v) { std::memcpy(p, &v, sizeof v); }

// Σ c_k·e^(iω_k·t), Σ ω_k·c_k·e^(iω_k·t) and Σ ω_k²·c_k·e^(iω_k·t) over bins 0 … n/2 of
// the interleaved spectrum c (ω_k = w0·k), as (re, im) pairs; without `derivatives` only the
// first. The spectrum is zero from bin `end` on (a multiple of four, or n/2 + 1), so those
// bins are left out. Eight bins at a time in two groups of four lanes, each lane with its
// own running phase (turned by eight bins' step): a running phase makes the next step wait
// for it, and with fewer of them the steps, not the sums, would set the pace. The phases
// are taken afresh every 512 bins, so that rounding does not build up along the steps.
template <bool derivatives>
[[gnu::always_inline]] inline void turnedSums(const float* s, int32_t n, int32_t end, double w0,
                                              double t, double sums[6]) {
  constexpr int32_t kLanes = 8;
  const double stepRe = std::cos(w0 * t * kLanes), stepIm = std::sin(w0 * t * kLanes);
  const double binRe = std::cos(w0 * t), binIm = std::sin(w0 * t);
  const Doubles4 lane = {0.0, 1.0, 2.0, 3.0};
  struct Group {
    Doubles4 phaseRe, phaseIm, s0Re, s0Im, s1Re, s1Im, s2Re, s2Im;
  };
  Group low = {}, high = {};
  const auto phaseAt = [&](int32_t k, double* re, double* im) {
    const double angle = w0 * std::fmod(t * k, static_cast<double>(n));
    *re = std::cos(angle), *im = std::sin(angle);
  };
  // Bins k … k + 3 into group g, whose phases are then turned on by eight bins.
  const auto take = [&](int32_t k, Group& g) {
    const Floats4 c0 = load4(s + 2 * k), c1 = load4(s + 2 * k + 4);
    const Doubles4 cRe =
        __builtin_convertvector(__builtin_shufflevector(c0, c1, 0, 2, 4, 6), Doubles4);
    const Doubles4 cIm =
        __builtin_convertvector(__builtin_shufflevector(c0, c1, 1, 3, 5, 7), Doubles4);
    const Doubles4 termRe = cRe * g.phaseRe - cIm * g.phaseIm;
    const Doubles4 termIm = cRe * g.phaseIm + cIm * g.phaseRe;
    g.s0Re += termRe, g.s0Im += termIm;
    if constexpr (derivatives) {
      const Doubles4 w = w0 * (static_cast<double>(k) + lane);
      g.s1Re += termRe * w, g.s1Im += termIm * w;
      g.s2Re += termRe * (w * w), g.s2Im += termIm * (w * w);
    }
    const Doubles4 nextRe = g.phaseRe * stepRe - g.phaseIm * stepIm;
    g.phaseIm = g.phaseRe * stepIm + g.phaseIm * stepRe;
    g.phaseRe = nextRe;
  };
  const int32_t limit = std::min(end, n / 2);
  int32_t k = 0;
  for (; k < limit; k += kLanes) {
    if (k % 512 == 0) {
      // The first lane's phase afresh, the others one bin's turn after another.
      double re[kLanes], im[kLanes];
      phaseAt(k, &re[0], &im[0]);
      for (int32_t l = 1; l < kLanes; ++l) {
        re[l] = re[l - 1] * binRe - im[l - 1] * binIm;
        im[l] = re[l - 1] * binIm + im[l - 1] * binRe;
      }
      low.phaseRe = Doubles4{re[0], re[1], re[2], re[3]};
      low.phaseIm = Doubles4{im[0], im[1], im[2], im[3]};
      high.phaseRe = Doubles4{re[4], re[5], re[6], re[7]};
      high.phaseIm = Doubles4{im[4], im[5], im[6], im[7]};
    }
    take(k, low);
    if (k + 4 < limit) take(k + 4, high);
  }
  // The Nyquist bin.
  double pRe = 0.0, pIm = 0.0;
  if (end > n / 2) phaseAt(n / 2, &pRe, &pIm);
  const double cRe = s[n], cIm = s[n + 1], w = w0 * (static_cast<double>(n) / 2.0);
  const double termRe = cRe * pRe - cIm * pIm, termIm = cRe * pIm + cIm * pRe;
  sums[0] = termRe, sums[1] = termIm;
  sums[2] = termRe * w, sums[3] = termIm * w;
  sums[4] = termRe * (w * w), sums[5] = termIm * (w * w);
  for (const Group* g : {&low, &high})
    for (int32_t l = 0; l < 4; ++l) {
      sums[0] += g->s0Re[l], sums[1] += g->s0Im[l];
      sums[2] += g->s1Re[l], sums[3] += g->s1Im[l];
      sums[4] += g->s2Re[l], sums[5] += g->s2Im[l];
    }
}

QV_VECTOR_CLONES void allTurnedSums(const float* s, int32_t n, int32_t end, double w0, double t,
                                    double sums[6]) {
  turnedSums<true>(s, n, end, w0, t, sums);
}
QV_VECTOR_CLONES void firstTurnedSum(const float* s, int32_t n, int32_t end, double w0, double t,
                                     double sums[6]) {
  turnedSums<false>(s, n, end, w0, t, sums);
}

struct BinSums {
  double weight = 0.0;     // Σ 2w over the bins
  double coherence = 0.0;  // Σ coherence over the bins wholly inside the band
  double power = 0.0;      // Σ coherent measurement power
  int32_t bandBins = 0;
};

struct BinLanes {
  Doubles4 weight{}, coherence{}, power{}, bandBins{};
};

// Bins k … k+3 of weighBins below. Always inlined, so that each version of weighBins has
// it in its own instructions.
[[gnu::always_inline]] inline void weighFour(const float* x, const float* y, const float* mask,
                                             float a, double byCoherence, float* sxx, float* syy,
                                             float* sr, float* si, float* spectrum, float* power,
                                             BinLanes& lanes) {
  const float b = 1.0f - a;
  const Doubles4 zero = {0.0, 0.0, 0.0, 0.0}, one = {1.0, 1.0, 1.0, 1.0};
  const Floats4 x0 = load4(x), x1 = load4(x + 4), y0 = load4(y), y1 = load4(y + 4);
  const Floats4 xr = __builtin_shufflevector(x0, x1, 0, 2, 4, 6);
  const Floats4 xi = __builtin_shufflevector(x0, x1, 1, 3, 5, 7);
  const Floats4 yr = __builtin_shufflevector(y0, y1, 0, 2, 4, 6);
  const Floats4 yi = __builtin_shufflevector(y0, y1, 1, 3, 5, 7);
  const Floats4 pxx = a * (xr * xr + xi * xi) + b * load4(sxx);
  const Floats4 pyy = a * (yr * yr + yi * yi) + b * load4(syy);
  const Floats4 cr = a * (xr * yr + xi * yi) + b * load4(sr);
  const Floats4 ci = a * (xr * yi - xi * yr) + b * load4(si);
  store4(sxx, pxx), store4(syy, pyy), store4(sr, cr), store4(si, ci);
  const Floats4 m = load4(mask);
  const Longs4 valid = __builtin_convertvector((m > 0.0f) & (pxx > 0.0f) & (pyy > 0.0f), Longs4);
  const Doubles4 dxx = valid ? __builtin_convertvector(pxx, Doubles4) : one,
                 dyy = valid ? __builtin_convertvector(pyy, Doubles4) : one;
  // One division serves both the coherence and the gain 1/Sxx = Syy/(Sxx·Syy).
  const Doubles4 inverse = one / (dxx * dyy);
  const Doubles4 dcr = __builtin_convertvector(cr, Doubles4),
                 dci = __builtin_convertvector(ci, Doubles4);
  const Doubles4 ratio = (dcr * dcr + dci * dci) * inverse;
  const Doubles4 coherence = ratio < one ? ratio : one;
  const Longs4 whole = valid & __builtin_convertvector(m >= 1.0f, Longs4);
  lanes.coherence += whole ? coherence : zero;
  lanes.bandBins += whole ? one : zero;
  const Doubles4 w =
      valid ? (byCoherence * coherence + (1.0 - byCoherence)) * __builtin_convertvector(m, Doubles4)
            : zero;
  const Doubles4 gain = 2.0 * w * dyy * inverse;
  // Bins that take no part are exactly zero, whatever their cross power holds.
  const Floats4 re = __builtin_convertvector(valid ? gain * dcr : zero, Floats4);
  const Floats4 im = __builtin_convertvector(valid ? gain * dci : zero, Floats4);
  store4(spectrum, __builtin_shufflevector(re, im, 0, 4, 1, 5));
  store4(spectrum + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
  lanes.weight += 2.0 * w;
  const Floats4 p = __builtin_convertvector(w * dyy, Floats4);
  store4(power, p);
  lanes.power += __builtin_convertvector(p, Doubles4);
}

// Takes this tick's spectra x (reference) and y (measurement) into the averages with weight
// `a`, and writes, per bin, the transfer function weighted by its coherence and the band
// (2w·Sxy/Sxx, not yet divided by Σ 2w) and the coherent measurement power w·Syy. Bins
// outside the band or without power in either channel get nothing. The coherence in
// double, as the cross power squared may pass the range of a float.
QV_VECTOR_CLONES BinSums weighBins(const float* x, const float* y, const float* mask, float a,
                                   bool coherenceWeighting, int32_t count, float* sxx, float* syy,
                                   float* sr, float* si, float* spectrum, float* power) {
  const double byCoherence = coherenceWeighting ? 1.0 : 0.0;
  BinLanes lanes;
  int32_t k = 0;
  for (; k + 4 <= count; k += 4)
    weighFour(x + 2 * k, y + 2 * k, mask + k, a, byCoherence, sxx + k, syy + k, sr + k, si + k,
              spectrum + 2 * k, power + k, lanes);
  if (const int32_t rest = count - k; rest > 0) {
    // The last few bins through a copy, the lanes beyond them outside the band.
    float tx[8] = {}, ty[8] = {}, tm[4] = {}, txx[4] = {}, tyy[4] = {}, tr[4] = {}, ti[4] = {};
    float ts[8], tp[4];
    std::copy_n(x + 2 * k, 2 * rest, tx), std::copy_n(y + 2 * k, 2 * rest, ty);
    std::copy_n(mask + k, rest, tm);
    std::copy_n(sxx + k, rest, txx), std::copy_n(syy + k, rest, tyy);
    std::copy_n(sr + k, rest, tr), std::copy_n(si + k, rest, ti);
    weighFour(tx, ty, tm, a, byCoherence, txx, tyy, tr, ti, ts, tp, lanes);
    std::copy_n(txx, rest, sxx + k), std::copy_n(tyy, rest, syy + k);
    std::copy_n(tr, rest, sr + k), std::copy_n(ti, rest, si + k);
    std::copy_n(ts, 2 * rest, spectrum + 2 * k), std::copy_n(tp, rest, power + k);
  }
  BinSums sums;
  for (int l = 0; l < 4; ++l) {
    sums.weight += lanes.weight[l], sums.coherence += lanes.coherence[l];
    sums.power += lanes.power[l], sums.bandBins += static_cast<int32_t>(lanes.bandBins[l]);
  }
  return sums;
}

// The first bin at which the running sum of `power` reaches `threshold` (the last bin if it
// never does): whole blocks summed in vector lanes, then the block that crosses bin by bin.
int32_t binBelow(const float* power, int32_t count, double threshold) {
  constexpr int32_t kBlock = 256;
  double cumulative = 0.0;
  int32_t k = 0;
  for (; k + kBlock <= count; k += kBlock) {
    double block = 0.0;
#pragma omp simd reduction(+ : block)
    for (int32_t i = k; i < k + kBlock; ++i) block += power[i];
    if (cumulative + block >= threshold) break;
    cumulative += block;
  }
  for (; k < count; ++k) {
    cumulative += power[k];
    if (cumulative >= threshold) return k;
  }
  return count - 1;
}

}  // namespace

void FineDelaySearch::setUp(uint32_t rate, SearchScratch& shared) {
  QV_ASSERT(rate > 0);
  rate_ = rate;
  n_ = sizeFor(rate);
  const auto n = static_cast<size_t>(n_);
  const size_t windowLength = n / 2;
  hann_ = fft::allocateFloats(windowLength);
  for (size_t i = 0; i < windowLength; ++i)
    hann_[i] = static_cast<float>(
        0.5 - 0.5 * std::cos(2.0 * M_PI * (static_cast<double>(i) + 0.5) / windowLength));
  work_ = fft::allocateFloats(n);
  for (auto* a : {&sxx_, &syy_, &sxyRe_, &sxyIm_, &mask_}) *a = fft::allocateFloats(n / 2 + 1);
  spectrum_ = fft::allocateFloats(2 * n);
  impulse_ = fft::allocateFloats(n);
  shared_ = &shared;
  shared.reserve(n_);
  // Made here, so that no search ever plans.
  fft::RealPlan::get(n_).forward(work_.get(), shared.x());
  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum_.get(), shared.analytic());
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
  // The bins that take part, from a multiple of four: each bin keeps its vector lane, so
  // the sums over them come out the same to the last bit.
  int32_t first = n_ / 2 + 1, end = 0;
  for (int32_t k = 0; k <= n_ / 2; ++k)
    if (mask[k] > 0.0f) first = std::min(first, k), end = k + 1;
  weighFrom_ = std::min(first, end) / 4 * 4;
  weighTo_ = end;
  // Bins outside those are not averaged from now on: nothing of theirs may be kept.
  reset();
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
  // The outer quarters stay zero from setUp: the forward transform keeps its input.
  history.copy(start, n / 2, w + n / 4);
  for (size_t i = 0; i < n / 2; ++i) w[n / 4 + i] *= hann_[i];
  fft::RealPlan::get(n_).forward(w, spectrum);
}

FineDelaySearch::Result FineDelaySearch::search(const SampleHistory& measurement,
                                                const SampleHistory& reference, int64_t offset) {
  QV_ASSERT(n_ > 0);
  const int64_t quarter = n_ / 4;
  // The active half of the measurement ends as late as both histories allow.
  const int64_t end = measurement.end() + std::min<int64_t>(offset, 0);
  const int64_t start = end - 2 * quarter;
  float* x = shared_->x();
  float* y = shared_->y();
  float* scratch = shared_->scratch();
  window(measurement, start, y);
  window(reference, start - offset, x);

  const float a = frames_ == 0 ? 1.0f : kAverage;
  const float b = 1.0f - a;
  ++frames_;
  midpoint_ = a * windowMiddle(start, measurement.begin()) + b * midpoint_;
  // Only the bins in the band: the others' spectrum stays zero from setUp.
  const int32_t from = weighFrom_, count = weighTo_ - weighFrom_;
  BinSums sums = weighBins(x + 2 * from, y + 2 * from, mask_.get() + from, a, coherenceWeighting_,
                           count, sxx_.get() + from, syy_.get() + from, sxyRe_.get() + from,
                           sxyIm_.get() + from, spectrum_.get() + 2 * from, scratch);
  float* spectrum = spectrum_.get();
  // Scaled here rather than the impulse: half as many values.
  const float scale = sums.weight > 0.0 ? static_cast<float>(1.0 / sums.weight) : 0.0f;
  vec::vsmul(spectrum + 2 * from, scale, spectrum + 2 * from, 2 * static_cast<size_t>(count));

  Result result;
  result.midpoint = midpoint_;
  result.meanCoherence = sums.bandBins > 0 ? sums.coherence / sums.bandBins : 0.0;
  // All the power lies in the bins weighed (none at all: bin 0).
  const int32_t top = sums.power > 0.0 ? from + binBelow(scratch, count, 0.95 * sums.power) : 0;
  result.topFrequencyHz = static_cast<double>(top) * rate_ / n_;

  fft::ComplexPlan::get(n_, fft::ComplexPlan::Direction::Inverse)
      .execute(spectrum, shared_->analytic());
  const float* z = shared_->analytic();
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
                                  static_cast<int32_t>(highest), shared_->envelope(), scratch);
  bool negative = false;
  const int32_t at = result.peak.strongestWithinLobe(z, n_, &negative);
  const bool byEnvelope = hasBand();
  double real = 0.0;
  double t = refine(byEnvelope ? result.peak.index : at, byEnvelope, negative, &real);
  const int32_t halfLength = n_ / 2;
  if (t >= halfLength) t -= n_;
  if (t < -halfLength) t += n_;
  result.lag = t;
  result.inverted = real < 0.0;
  return result;
}

void FineDelaySearch::evaluate(double t, double z[2], double dz[2], double ddz[2]) const {
  const double w0 = 2.0 * M_PI / n_;
  double sums[6];
  if (dz)
    allTurnedSums(spectrum_.get(), n_, nonZeroEnd(), w0, t, sums);
  else
    firstTurnedSum(spectrum_.get(), n_, nonZeroEnd(), w0, t, sums);
  const std::complex<double> sum0(sums[0], sums[1]), sum1(sums[2], sums[3]), sum2(sums[4], sums[5]);
  // z' = Σ iω·c·e^(iωt), z'' = −Σ ω²·c·e^(iωt).
  z[0] = sum0.real(), z[1] = sum0.imag();
  if (!dz) return;
  dz[0] = -sum1.imag(), dz[1] = sum1.real();
  ddz[0] = -sum2.real(), ddz[1] = -sum2.imag();
}

double FineDelaySearch::refine(int32_t index, bool envelope, bool negative, double* real) const {
  double t = index;
  // The impulse's real part at t: from the last evaluation, moved on by its derivatives
  // when the last step was short (the error is of the step's cube, far below the sums'
  // own rounding); NaN when it must be evaluated afresh.
  double realAtT = std::numeric_limits<double>::quiet_NaN();
  double previous = 0.0;
  for (int iteration = 0; iteration < 4; ++iteration) {
    double z[2], dz[2], ddz[2];
    evaluate(t, z, dz, ddz);
    realAtT = z[0];
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
    realAtT = std::fabs(step) < kShortStep ? z[0] + step * (dz[0] + 0.5 * step * ddz[0])
                                           : std::numeric_limits<double>::quiet_NaN();
    // Near the peak each step is about c·(the last one)²: with c read from the last two
    // steps, a next step that would be under a ten-millionth of a sample is not taken.
    if (std::fabs(step) < kLastStep) break;
    if (previous != 0.0 && std::fabs(step) < kShortStep &&
        4.0 * std::fabs(step) / (previous * previous) * step * step < kLastStep)
      break;
    previous = step;
  }
  const double limited = std::clamp(t, index - 1.5, index + 1.5);
  if (limited != t || std::isnan(realAtT)) {
    double v[2];
    evaluate(limited, v, nullptr, nullptr);
    realAtT = v[0];
  }
  *real = realAtT;
  return limited;
}

}  // namespace qv
