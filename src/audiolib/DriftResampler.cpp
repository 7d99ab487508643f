#include "audiolib/DriftResampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/Vector.h"

namespace qv {
namespace {

constexpr int kTaps = 2 * DriftResampler::kHalfWidth;
constexpr double kBeta = 9.0;

std::vector<float> makeTaps() {
  std::vector<float> taps(static_cast<size_t>(DriftResampler::kPhases + 1) * kTaps);
  const double peak = vec::besselI0(kBeta);
  for (int p = 0; p <= DriftResampler::kPhases; ++p) {
    const double frac = static_cast<double>(p) / DriftResampler::kPhases;
    for (int i = 0; i < kTaps; ++i) {
      const double d = static_cast<double>(i - DriftResampler::kHalfWidth + 1) - frac;
      const double r = d / DriftResampler::kHalfWidth;
      const double window =
          r <= -1.0 || r >= 1.0 ? 0.0 : vec::besselI0(kBeta * std::sqrt(1.0 - r * r)) / peak;
      const double sinc = d == 0.0 ? 1.0 : std::sin(M_PI * d) / (M_PI * d);
      taps[static_cast<size_t>(p) * kTaps + static_cast<size_t>(i)] =
          static_cast<float>(sinc * window);
    }
  }
  return taps;
}

}  // namespace

const std::vector<float>& DriftResampler::taps() {
  static const std::vector<float> taps = makeTaps();  // built once, by the first caller
  return taps;
}

DriftResampler::DriftResampler(int64_t queueFrames)
    : longSize_(static_cast<int64_t>(
          std::bit_ceil(static_cast<uint64_t>(std::max<int64_t>(queueFrames, 4 * kHalfWidth))))),
      // Left uninitialised on purpose: the pages are touched only as frames arrive.
      long_(new float[2 * static_cast<size_t>(longSize_)]) {
  if (longSize_ > kShortFrames) {
    short_.resize(2 * static_cast<size_t>(kShortFrames));
    measurement_ = short_.data();
    size_ = kShortFrames;
  } else {
    measurement_ = long_.get();
    size_ = longSize_;
  }
  reference_ = measurement_ + size_;
  mask_ = size_ - 1;
}

void DriftResampler::lengthen() {
  float* measurement = long_.get();
  float* reference = measurement + longSize_;
  const int64_t longMask = longSize_ - 1;
  // The taps reach kHalfWidth − 1 frames behind the next reference frame's read position.
  for (int64_t n = std::max<int64_t>(0, referenceIndex_ - kHalfWidth); n < received_; ++n) {
    measurement[n & longMask] = measurement_[n & mask_];
    reference[n & longMask] = reference_[n & mask_];
  }
  measurement_ = measurement;
  reference_ = reference;
  size_ = longSize_;
  mask_ = longMask;
}

void DriftResampler::setDriftPpm(double ppm) {
  // The taps are in place before the drift is: process only reads them, never makes them.
  if (ppm != 0.0) table_.store(taps().data(), std::memory_order_release);
  ppm_.store(ppm, std::memory_order_release);
}

float DriftResampler::interpolate(double position, const float* table) const {
  const double base = std::floor(position);
  const double frac = position - base;
  const auto first = static_cast<int64_t>(base) - kHalfWidth + 1;
  const double at = frac * kPhases;
  const auto phase = static_cast<size_t>(at);
  const auto mix = static_cast<float>(at - static_cast<double>(phase));
  const float* lower = table + phase * kTaps;
  const float* upper = lower + kTaps;
  float sum = 0.0f;
  const auto start = static_cast<size_t>(first & mask_);
  if (first >= 0 && start + kTaps <= static_cast<size_t>(size_)) {
    // The taps lie in one run of the ring: the common case, in vector lanes.
    const float* x = measurement_ + start;
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
  const double step = 1.0 + ppm_.load(std::memory_order_acquire) * 1e-6;
  // The short rings serve until a drift is set or they would have to drop frames.
  if (size_ < longSize_ &&
      (step != step_ || received_ + frames - referenceIndex_ > size_ - 2 * kHalfWidth - 2))
    lengthen();
  for (uint32_t f = 0; f < frames; ++f) {
    const auto at = static_cast<size_t>((received_ + f) & mask_);
    measurement_[at] = in[2 * f];
    reference_[at] = in[2 * f + 1];
  }
  received_ += frames;
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
  if (!engaged_) {
    // Straight through: the frames come out as they went in, read back from the rings, or
    // taken as they came when nothing was waiting before them.
    const auto count =
        static_cast<uint32_t>(std::min<int64_t>(capacity, received_ - referenceIndex_));
    if (frames > 0 && count == frames && referenceIndex_ + frames == received_) {
      std::memcpy(out, in, 2 * sizeof(float) * frames);
    } else {
      for (uint32_t f = 0; f < count; ++f) {
        const auto at = static_cast<size_t>((referenceIndex_ + f) & mask_);
        out[2 * f] = measurement_[at];
        out[2 * f + 1] = reference_[at];
      }
    }
    referenceIndex_ += count;
    sinceAnchor_ += count;
    written_ += count;
    return count;
  }
  const float* table = table_.load(std::memory_order_relaxed);  // set before any drift was
  // A frame is ready once its reference sample is in and the measurement's taps all are.
  while (written < capacity && referenceIndex_ < received_) {
    const double position = readPosition();
    if (static_cast<int64_t>(std::floor(position)) + kHalfWidth >= received_) break;
    out[2 * written] = interpolate(position, table);
    out[2 * written + 1] = reference_[static_cast<size_t>(referenceIndex_ & mask_)];
    ++written;
    ++referenceIndex_;
    ++sinceAnchor_;
  }
  written_ += written;
  return written;
}

}  // namespace qv
