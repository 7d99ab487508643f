#pragma once
// Reading the two channels of one complex transform P of N points, channel X in the real
// parts and Y in the imaginary parts, taken before any window: bin k under the periodic
// Hann window is W[k] = P[k]/2 − (P[k−1] + P[k+1])/4, and then
// X = (W[k] + conj W[N−k]) / 2, Y = (W[k] − conj W[N−k]) / 2i. Both are worked out while the
// bins are read, so the frame is touched once.
// Thread contract: none (no state); nothing allocates.
#include <cstddef>

namespace qv::packed {

// A transform and how to read it. keepX and keepY are 1/2 for a channel that sounds and 0
// for a silent one (its share of P is rounding alone, which the other channel's level
// sets). With `exchanged`, A (the first channel of the results) is Y and B is X.
struct Frame {
  const float* spectrum;  // 2·N floats, interleaved (re, im)
  size_t n;               // a power of two, at least 16
  float keepX;
  float keepY;
  bool exchanged;
};

// X = a·new + (1 − a)·X over bins 0 … N/2 for |A|², |B|² and the real and imaginary parts
// of conj(A)·B, the new cross spectrum turned by (turnRe, turnIm)[k] when they are given.
void average(const Frame& frame, float a, const float* turnRe, const float* turnIm, float* powerA,
             float* powerB, float* crossRe, float* crossIm);

// Bins 0 … N/2 of A and of B, interleaved (re, im).
void separate(const Frame& frame, float* a, float* b);

}  // namespace qv::packed
