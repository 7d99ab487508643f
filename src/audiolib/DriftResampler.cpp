#include "audiolib/DriftResampler.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qv {
namespace {

constexpr int kTaps = 2 * DriftResampler::kHalfWidth;
constexpr double kBeta = 9.0;

double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

}  // namespace

DriftResampler::DriftResampler(int64_t queueFrames)
    : size_(static_cast<int64_t>(
          std::bit_ceil(static_cast<uint64_t>(std::max<int64_t>(queueFrames, 4 * kHalfWidth))))),
      mask_(size_ - 1),
      measurement_(static_cast<size_t>(size_)),
      reference_(static_cast<size_t>(size_)),
      table_(static_cast<size_t>(kPhases + 1) * kTaps) {
  // Row p: the taps for a read position p/kPhases past a sample; tap i lies at i − 47.
  for (int p = 0; p <= kPhases; ++p) {
    const double frac = static_cast<double>(p) / kPhases;
    for (int i = 0; i < kTaps; ++i) {
      const double d = static_cast<double>(i - kHalfWidth + 1) - frac;
      const double r = d / kHalfWidth;
      const double window =
          r <= -1.0 || r >= 1.0 ? 0.0 : besselI0(kBeta * std::sqrt(1.0 - r * r)) / besselI0(kBeta);
      const double sinc = d == 0.0 ? 1.0 : std::sin(M_PI * d) / (M_PI * d);
      table_[static_cast<size_t>(p) * kTaps + static_cast<size_t>(i)] =
          static_cast<float>(sinc * window);
    }
  }
}

float DriftResampler::interpolate(double position) const {
  const double base = std::floor(position);
  const double frac = position - base;
  const auto first = static_cast<int64_t>(base) - kHalfWidth + 1;
  const double at = frac * kPhases;
  const auto phase = static_cast<size_t>(at);
  const auto mix = static_cast<float>(at - static_cast<double>(phase));
  const float* lower = &table_[phase * kTaps];
  const float* upper = lower + kTaps;
  float sum = 0.0f;
  const auto start = static_cast<size_t>(first & mask_);
  if (first >= 0 && start + kTaps <= static_cast<size_t>(size_)) {
    // The taps lie in one run of the ring: the common case, in vector lanes.
    const float* x = measurement_.data() + start;
#pragma omp simd reduction(+ : sum)
    for (int i = 0; i < kTaps; ++i) sum += x[i] * (lower[i] + mix * (upper[i] - lower[i]));
    return sum;
  }
  for (int i = 0; i < kTaps; ++i) {
    const int64_t n = first + i;
    // Before the stream began there was silence.
    const float x = n < 0 ? 0.0f : measurement_[static_cast<size_t>(n & mask_)];
    sum += x * (lower[i] + mix * (upper[i] - lower[i]));
  }
  return sum;
}

uint32_t DriftResampler::process(const float* in, uint32_t frames, float* out, uint32_t capacity) {
  for (uint32_t f = 0; f < frames; ++f) {
    const auto at = static_cast<size_t>((received_ + f) & mask_);
    measurement_[at] = in[2 * f];
    reference_[at] = in[2 * f + 1];
  }
  received_ += frames;
  const double step = 1.0 + ppm_.load(std::memory_order_relaxed) * 1e-6;
  if (step != step_) {
    // The read position at a step of 1 is the next reference frame's, so the stream goes on
    // without a jump.
    engaged_ = true;
    anchor_ = readPosition();
    sinceAnchor_ = 0;
    step_ = step;
  }

  // A queue about to be overwritten: drop its oldest frames, the delay slips by as many.
  const int64_t room = size_ - 2 * kHalfWidth - 2;
  if (received_ - referenceIndex_ > room) {
    const int64_t drop = received_ - referenceIndex_ - room;
    referenceIndex_ += drop;
    slips_ += drop;
  }
  if (received_ - static_cast<int64_t>(readPosition()) > room) {
    const int64_t drop = received_ - static_cast<int64_t>(readPosition()) - room;
    anchor_ += static_cast<double>(drop);
    slips_ += drop;
  }

  uint32_t written = 0;
  // A frame is ready once its reference sample is in and the measurement's taps all are.
  while (written < capacity && referenceIndex_ < received_) {
    const double position = readPosition();
    if (!engaged_) {
      out[2 * written] = measurement_[static_cast<size_t>(referenceIndex_ & mask_)];
    } else {
      if (static_cast<int64_t>(std::floor(position)) + kHalfWidth >= received_) break;
      out[2 * written] = interpolate(position);
    }
    out[2 * written + 1] = reference_[static_cast<size_t>(referenceIndex_ & mask_)];
    ++written;
    ++referenceIndex_;
    ++sinceAnchor_;
  }
  written_ += written;
  return written;
}

}  // namespace qv
