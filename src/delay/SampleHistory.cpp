#include "delay/SampleHistory.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qv {

void SampleHistory::reset(size_t capacity, int64_t begin) {
  const size_t size = std::bit_ceil(std::max<size_t>(capacity, 2));
  samples_ = fft::allocateFloats(size);
  mask_ = size - 1;
  end_ = begin;
  begin_ = begin;
}

void SampleHistory::push(const float* data, size_t count, size_t stride) {
  float* s = samples_.get();
  while (count > 0) {
    // One run up to the ring's end, without a mask per sample.
    const size_t at = static_cast<size_t>(end_) & mask_;
    const size_t run = std::min(count, mask_ + 1 - at);
    if (stride == 2) {
      for (size_t i = 0; i < run; ++i) s[at + i] = data[2 * i];
    } else {
      for (size_t i = 0; i < run; ++i) s[at + i] = data[i * stride];
    }
    data += run * stride;
    count -= run;
    end_ += static_cast<int64_t>(run);
  }
}

float SampleHistory::at(int64_t index) const {
  if (index < begin_ || index >= end_ || end_ - index > static_cast<int64_t>(mask_ + 1))
    return 0.0f;
  return samples_[static_cast<size_t>(index) & mask_];
}

void SampleHistory::copy(int64_t start, size_t count, float* out) const {
  const auto size = static_cast<int64_t>(mask_ + 1);
  const int64_t first = std::max<int64_t>({start, end_ - size, begin_});
  const int64_t last = std::min<int64_t>(start + static_cast<int64_t>(count), end_);
  if (first >= last) {
    std::memset(out, 0, count * sizeof(float));
    return;
  }
  std::memset(out, 0, static_cast<size_t>(first - start) * sizeof(float));
  const float* s = samples_.get();
  int64_t i = first;
  while (i < last) {
    // One contiguous run up to the ring's end or the range's end.
    const size_t at = static_cast<size_t>(i) & mask_;
    const int64_t run = std::min<int64_t>(last - i, size - static_cast<int64_t>(at));
    std::memcpy(out + (i - start), s + at, static_cast<size_t>(run) * sizeof(float));
    i += run;
  }
  std::memset(out + (last - start), 0,
              static_cast<size_t>(start + static_cast<int64_t>(count) - last) * sizeof(float));
}

}  // namespace qv
