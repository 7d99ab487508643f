#include "delay/ImpulsePeak.h"

#include <algorithm>
#include <cmath>

namespace qv {
namespace {

// The median of a Rayleigh distribution is σ·sqrt(2·ln 2).
constexpr double kRayleighMedian = 1.1774100225154747;

int32_t wrap(int32_t i, int32_t n) { return ((i % n) + n) % n; }

// Calls f(run, length) for the values from index `first` (taken round the circle of n) on,
// `count` of them (at most n), in order: one run, or two where they pass the end.
template <typename F>
void forEachRun(const float* values, int32_t n, int32_t first, int32_t count, F f) {
  if (count <= 0) return;
  const int32_t start = wrap(first, n);
  const int32_t head = std::min(count, n - start);
  f(values + start, head);
  if (count > head) f(values, count - head);
}

}  // namespace

ImpulsePeak ImpulsePeak::read(const float* analytic, int32_t n, int32_t noiseFrom, int32_t noiseTo,
                              float* envelope, float* scratch) {
  ImpulsePeak peak;
  for (int32_t i = 0; i < n; ++i) {
    const float re = analytic[2 * i], im = analytic[2 * i + 1];
    const float e = std::sqrt(re * re + im * im);
    envelope[i] = std::isfinite(e) ? e : 0.0f;
  }
  const int32_t top = static_cast<int32_t>(std::max_element(envelope, envelope + n) - envelope);
  peak.index = top;
  peak.envelope = envelope[top];

  // The lobe: down to half height, then on for as long as the envelope keeps falling.
  const float half = 0.5f * envelope[top];
  const int32_t limit = n / 4;
  const auto reach = [&](int32_t direction) {
    int32_t d = 0;
    while (d < limit && envelope[wrap(top + direction * (d + 1), n)] > half) ++d;
    while (d < limit &&
           envelope[wrap(top + direction * (d + 1), n)] < envelope[wrap(top + direction * d, n)])
      ++d;
    return d;
  };
  peak.lobeBefore = reach(-1);
  peak.lobeAfter = reach(+1);
  // Everything outside the lobe, read round the circle as two straight runs.
  float next = 0.0f;
  forEachRun(envelope, n, top + peak.lobeAfter + 1, n - peak.lobeBefore - peak.lobeAfter - 1,
             [&](const float* run, int32_t length) {
               for (int32_t i = 0; i < length; ++i) next = std::max(next, run[i]);
             });
  peak.next = next;

  const int32_t from = std::max(noiseFrom, -(n / 2));
  const int32_t to = std::min(noiseTo, n / 2 - 1);
  int32_t count = 0;
  forEachRun(envelope, n, from, to - from + 1, [&](const float* run, int32_t length) {
    std::copy(run, run + length, scratch + count);
    count += length;
  });
  if (count < kMinNoisePoints) {
    peak.noise = 0.0;
    return peak;
  }
  std::nth_element(scratch, scratch + count / 2, scratch + count);
  peak.noise = scratch[count / 2] / kRayleighMedian;
  return peak;
}

int32_t ImpulsePeak::strongestWithinLobe(const float* analytic, int32_t n, bool* negative) const {
  int32_t best = index;
  float bestValue = -1.0f;
  for (int32_t d = -lobeBefore; d <= lobeAfter; ++d) {
    const int32_t i = wrap(index + d, n);
    const float v = std::fabs(analytic[2 * i]);
    if (v > bestValue) bestValue = v, best = i;
  }
  *negative = analytic[2 * best] < 0.0f;
  return best;
}

}  // namespace qv
