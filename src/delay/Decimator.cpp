#include "delay/Decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Assert.h"
#include "platform/Vector.h"

namespace qv {
namespace {

constexpr size_t kChunk = 4096;

// In eight lanes, folded by halves at the end (a reduction the compiler writes for itself
// goes through memory one lane at a time, which costs as much as the products here).
QV_VECTOR_CLONES float dot(const float* __restrict a, const float* __restrict b, size_t n) {
  using Floats8 = float __attribute__((vector_size(32)));
  using Floats4 = float __attribute__((vector_size(16)));
  Floats8 lanes = {};
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Floats8 x, y;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    lanes += x * y;
  }
  const Floats4 four = __builtin_shufflevector(lanes, lanes, 0, 1, 2, 3) +
                       __builtin_shufflevector(lanes, lanes, 4, 5, 6, 7);
  const Floats4 two = four + __builtin_shufflevector(four, four, 2, 3, 0, 1);
  float sum = two[0] + two[1];
  for (; i < n; ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

void Decimator::setUp(int factor) {
  QV_ASSERT(factor >= 1);
  factor_ = factor;
  held_ = 0;
  phase_ = 0;
  if (factor == 1) {
    taps_.assign(1, 1.0f);
  } else {
    const int half = kTapsPerFactor / 2 * factor;
    const double cutoff = 0.4 / factor;  // cycles per input sample
    const double beta = 7.0;             // about 70 dB below the pass band
    taps_.resize(2 * static_cast<size_t>(half) + 1);
    double sum = 0.0;
    for (int m = -half; m <= half; ++m) {
      const double x = 2.0 * M_PI * cutoff * m;
      const double s = m == 0 ? 1.0 : std::sin(x) / x;
      const double r = static_cast<double>(m) / (half + 1);
      const double w = vec::besselI0(beta * std::sqrt(1.0 - r * r)) / vec::besselI0(beta);
      const int tap = m + half;
      taps_[static_cast<size_t>(tap)] = static_cast<float>(s * w);
      sum += s * w;
    }
    // Unit gain at 0 Hz; the filter is symmetric, so its taps read the same reversed.
    for (auto& t : taps_) t = static_cast<float>(t / sum);
  }
  line_.assign(taps_.size() - 1 + kChunk, 0.0f);
  held_ = taps_.size() - 1;  // the stream begins after silence
}

size_t Decimator::push(const float* input, size_t count, size_t stride, float* output) {
  const size_t length = taps_.size();
  size_t written = 0;
  while (count > 0) {
    const size_t take = std::min(count, kChunk);
    for (size_t i = 0; i < take; ++i) line_[held_ + i] = input[i * stride];
    held_ += take;
    input += take * stride;
    count -= take;
    // An output for every D-th input: the newest of the taps it covers is at `last`.
    size_t last = length - 1 + static_cast<size_t>(phase_);
    while (last < held_) {
      output[written++] = dot(line_.data() + last + 1 - length, taps_.data(), length);
      last += static_cast<size_t>(factor_);
    }
    phase_ = static_cast<int>(last - held_);
    // Keep the newest length − 1 inputs for the next outputs.
    std::memmove(line_.data(), line_.data() + held_ - (length - 1), (length - 1) * sizeof(float));
    held_ = length - 1;
  }
  return written;
}

}  // namespace qv
