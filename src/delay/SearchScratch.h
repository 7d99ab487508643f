#pragma once
// Arrays that a delay search fills and reads within one search and never again: the two
// channels' spectra, the analytic impulse, its envelope and a scratch row. The coarse and
// the fine search run one after the other on the finder's tick and share one set, sized
// for the larger of their transforms; neither keeps a pointer into it between calls.
// Thread contract: none inside; the thread of the searches that use it.
#include <cstddef>
#include <cstdint>

#include "platform/FftBackend.h"

namespace qv {

class SearchScratch {
 public:
  // Room for transforms of n points; only grows (on set-up, never during a search).
  void reserve(int32_t n);
  int32_t size() const { return n_; }

  float* x() const { return x_.get(); }                // n + 2: a real transform
  float* y() const { return y_.get(); }                // n + 2
  float* analytic() const { return analytic_.get(); }  // 2n: n complex values
  float* envelope() const { return envelope_.get(); }  // n
  float* scratch() const { return scratch_.get(); }    // n

 private:
  int32_t n_ = 0;
  fft::AlignedFloats x_, y_, analytic_, envelope_, scratch_;
};

}  // namespace qv
