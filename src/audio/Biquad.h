#pragma once
// A second-order IIR section (direct form I) with Butterworth designs by the bilinear
// transform. Coefficients and state are double: a 4 Hz high-pass at 96 kHz or above has
// its poles so close to z = 1 that single precision rounds them onto or outside the unit
// circle, and the filter runs away to full-scale DC. Plain data; one thread at a time.
#include <cstdint>

namespace qv {

struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

  // A pass-through with cleared state.
  void reset();
  // `f` is the cut-off as a fraction of the Nyquist frequency.
  void designLowPass(double f);
  void designHighPass(double f);
  // Filters in place; the state carries over from call to call.
  void process(float* samples, uint32_t count);
};

}  // namespace qv
