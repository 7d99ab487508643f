#include "delay/ImpulsePeak.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Vector.h"

namespace qv {
namespace {

// The median of a Rayleigh distribution is σ·sqrt(2·ln 2).
constexpr double kRayleighMedian = 1.1774100225154747;
// Sign, exponent and the top three bits of the mantissa.
constexpr int kBucketBits = 12;

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

// The largest of count values, none of them NaN: eight running maxima, one per lane, which
// the compiler keeps in one vector (a single running maximum it must not reorder).
QV_VECTOR_CLONES float largest(const float* values, int32_t count) {
  constexpr int32_t kLanes = 8;
  float lanes[kLanes] = {};
  int32_t i = 0;
  for (; i + kLanes <= count; i += kLanes)
    for (int32_t l = 0; l < kLanes; ++l)
      lanes[l] = lanes[l] < values[i + l] ? values[i + l] : lanes[l];
  float m = lanes[0];
  for (int32_t l = 1; l < kLanes; ++l) m = std::max(m, lanes[l]);
  for (; i < count; ++i) m = std::max(m, values[i]);
  return m;
}

// The first index of the largest of count values (none of them NaN, none below −1), in
// one pass: each of eight lanes keeps its largest and where it first saw it, and the lanes
// then agree on the first.
QV_VECTOR_CLONES int32_t firstLargest(const float* values, int32_t count) {
  using Floats8 = float __attribute__((vector_size(32)));
  using Ints8 = int32_t __attribute__((vector_size(32)));
  Floats8 best = {-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
  Ints8 at = {}, index = {0, 1, 2, 3, 4, 5, 6, 7};
  int32_t i = 0;
  for (; i + 8 <= count; i += 8, index += 8) {
    Floats8 v;
    std::memcpy(&v, values + i, sizeof v);
    const Ints8 higher = v > best;
    best = higher ? v : best;
    at = higher ? index : at;
  }
  int32_t top = 0;
  float topValue = -1.0f;
  for (int32_t l = 0; l < 8; ++l)
    if (best[l] > topValue || (best[l] == topValue && at[l] < top)) topValue = best[l], top = at[l];
  for (; i < count; ++i)
    if (values[i] > topValue) topValue = values[i], top = i;
  return top;
}

// The magnitudes of n complex values; one that is no number counts as 0.
QV_VECTOR_CLONES void magnitudes(const float* analytic, int32_t n, float* envelope) {
  for (int32_t i = 0; i < n; ++i) {
    const float re = analytic[2 * i], im = analytic[2 * i + 1];
    const float e = std::sqrt(re * re + im * im);
    envelope[i] = e <= std::numeric_limits<float>::max() ? e : 0.0f;
  }
}

}  // namespace

ImpulsePeak ImpulsePeak::read(const float* analytic, int32_t n, int32_t noiseFrom, int32_t noiseTo,
                              float* envelope, float* scratch) {
  ImpulsePeak peak;
  magnitudes(analytic, n, envelope);
  // The first index of the largest value, as std::max_element finds it.
  const int32_t top = firstLargest(envelope, n);
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
  forEachRun(
      envelope, n, top + peak.lobeAfter + 1, n - peak.lobeBefore - peak.lobeAfter - 1,
      [&](const float* run, int32_t length) { next = std::max(next, largest(run, length)); });
  peak.next = next;

  const int32_t from = std::max(noiseFrom, -(n / 2));
  const int32_t to = std::min(noiseTo, n / 2 - 1);
  const int32_t count = std::max(0, to - from + 1);
  if (count < kMinNoisePoints) {
    peak.noise = 0.0;
    return peak;
  }
  // The median by the bits of the values (the envelope is never negative, and such floats
  // order as their bit patterns): count them per eighth of an octave, then select among
  // the few in the bucket that holds the middle one. Noise fills few buckets, so the counts
  // go to four tables in turn (one count need not wait for the one before in the same
  // bucket); none of them reaches past the bucket of the envelope's top.
  const int32_t middle = count / 2;
  const auto bucketOf = [](float v) { return std::bit_cast<uint32_t>(v) >> (32 - kBucketBits); };
  constexpr size_t kTables = 4;
  const size_t used = bucketOf(static_cast<float>(peak.envelope)) + 1;
  std::array<int32_t, kTables << kBucketBits> tables;
  std::fill_n(tables.begin(), kTables * used, 0);
  forEachRun(envelope, n, from, count, [&](const float* run, int32_t length) {
    int32_t i = 0;
    for (; i + 4 <= length; i += 4)
      for (size_t t = 0; t < kTables; ++t) ++tables[t * used + bucketOf(run[i + t])];
    for (; i < length; ++i) ++tables[bucketOf(run[i])];
  });
  uint32_t bucket = 0;
  int32_t below = 0;
  const auto inBucket = [&](uint32_t b) {
    int32_t sum = 0;
    for (size_t t = 0; t < kTables; ++t) sum += tables[t * used + b];
    return sum;
  };
  for (int32_t here = inBucket(0); below + here <= middle; here = inBucket(++bucket)) below += here;
  int32_t candidates = 0;
  forEachRun(envelope, n, from, count, [&](const float* run, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
      scratch[candidates] = run[i];
      candidates += bucketOf(run[i]) == bucket ? 1 : 0;
    }
  });
  std::nth_element(scratch, scratch + (middle - below), scratch + candidates);
  peak.noise = scratch[middle - below] / kRayleighMedian;
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
