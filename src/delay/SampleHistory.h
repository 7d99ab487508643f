#pragma once
// The newest samples of one channel by absolute index: a ring that remembers how many
// samples it has taken, so windows are asked for by where they lie in the stream.
// Thread contract: none inside; one thread (the finder's ticks) uses it.
#include <cstddef>
#include <cstdint>

#include "platform/FftBackend.h"

namespace qv {

class SampleHistory {
 public:
  // Room for at least `capacity` samples, all silence; the stream goes on from index
  // `begin` (its earlier samples are not held).
  void reset(size_t capacity, int64_t begin = 0);
  size_t capacity() const { return mask_ + 1; }

  // Appends count samples taken every `stride` floats from `data`.
  void push(const float* data, size_t count, size_t stride = 1);
  // Index one past the newest sample, and of the first sample taken since the reset.
  int64_t end() const { return end_; }
  int64_t begin() const { return begin_; }

  // Copies the samples [start, start + count) to out; those not yet taken, already
  // overwritten or from before begin() read as silence.
  void copy(int64_t start, size_t count, float* out) const;
  float at(int64_t index) const;

 private:
  fft::AlignedFloats samples_;
  size_t mask_ = 0;
  int64_t end_ = 0;
  int64_t begin_ = 0;
};

}  // namespace qv
