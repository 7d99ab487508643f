#include "audiolib/PeakHistory.h"

#include <algorithm>
#include <cmath>

namespace qv {

PeakHistory::PeakHistory(uint32_t rate, int channels, double seconds)
    : rate_(rate),
      channels_(std::max(channels, 1)),
      // Half a second more than a reading may cover, so the slices a write is filling
      // never overlap the oldest ones a reading walks.
      slices_(static_cast<uint64_t>(std::ceil((seconds + 0.5) * rate / kSliceFrames)) + 2),
      history_(std::make_unique<Slice[]>(slices_)) {}

void PeakHistory::write(const float* frames, uint32_t count) {
  uint64_t written = written_.load(std::memory_order_relaxed);
  const auto ch = static_cast<size_t>(channels_);
  for (uint32_t i = 0; i < count;) {
    if (written % kSliceFrames == 0) left_ = right_ = 0.0f;
    const auto n =
        static_cast<uint32_t>(std::min<uint64_t>(count - i, kSliceFrames - written % kSliceFrames));
    const float* f = frames + static_cast<size_t>(i) * ch;
    for (size_t k = 0; k < n * ch; ++k) {
      const float v = std::fabs(f[k]);
      if (k % ch % 2 == 0) {
        left_ = std::max(left_, v);
      } else {
        right_ = std::max(right_, v);
      }
    }
    // A slice still being filled is published too: a reading sees the newest frames.
    Slice& slice = history_[(written / kSliceFrames) % slices_];
    slice.left.store(left_, std::memory_order_relaxed);
    slice.right.store(right_, std::memory_order_relaxed);
    written += n;
    i += n;
  }
  written_.store(written, std::memory_order_release);
}

void PeakHistory::restart() {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t next = (written + kSliceFrames - 1) / kSliceFrames * kSliceFrames;
  start_.store(next, std::memory_order_release);
  written_.store(next, std::memory_order_release);
}

void PeakHistory::read(double seconds, float* left, float* right) const {
  const uint64_t written = written_.load(std::memory_order_acquire);
  const uint64_t maxFrames = (slices_ - 2) * kSliceFrames - rate_ / 2;
  const auto want = std::min(static_cast<uint64_t>(std::max(0.0, seconds) * rate_), maxFrames);
  const uint64_t first =
      std::max(written - std::min(written, want), start_.load(std::memory_order_acquire));
  float l = 0.0f;
  float r = 0.0f;
  if (first < written) {
    for (uint64_t s = first / kSliceFrames; s <= (written - 1) / kSliceFrames; ++s) {
      const Slice& slice = history_[s % slices_];
      l = std::max(l, slice.left.load(std::memory_order_relaxed));
      r = std::max(r, slice.right.load(std::memory_order_relaxed));
    }
  }
  *left = l;
  *right = channels_ == 1 ? l : r;
}

}  // namespace qv
