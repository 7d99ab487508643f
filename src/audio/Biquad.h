#pragma once
// A second-order IIR section (direct form I) with Butterworth designs by the bilinear
// transform. Plain data; used by one thread at a time.
#include <cstdint>

namespace qv {

struct Biquad {
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  float x1 = 0, x2 = 0, y1 = 0, y2 = 0;

  // A pass-through with cleared state.
  void reset();
  // `f` is the cut-off as a fraction of the Nyquist frequency.
  void designLowPass(float f);
  void designHighPass(float f);
  // Filters in place; the state carries over from call to call.
  void process(float* samples, uint32_t count);
};

}  // namespace qv
