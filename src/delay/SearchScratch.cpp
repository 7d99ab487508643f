#include "delay/SearchScratch.h"

namespace qv {

void SearchScratch::reserve(int32_t n) {
  if (n <= n_) return;
  n_ = n;
  const auto count = static_cast<size_t>(n);
  x_ = fft::allocateFloats(count + 2);
  y_ = fft::allocateFloats(count + 2);
  analytic_ = fft::allocateFloats(2 * count);
  envelope_ = fft::allocateFloats(count);
  scratch_ = fft::allocateFloats(count);
}

}  // namespace qv
