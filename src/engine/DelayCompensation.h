#pragma once
// The delay of each recorded channel, split into whole samples (for the stream's delay
// line) and a fraction of a sample, which the averaged cross spectrum receives as a linear
// phase term: together they compensate any delay exactly, not to the nearest sample.
// Thread contract: one thread (the data source's update thread); no state is shared.
#include <cstddef>
#include <cstdint>

#include "platform/FftBackend.h"

namespace qv {

// What happens to the frames already averaged when the compensation changes.
enum class DelayChange {
  // They stay compensated as they were when they were analysed: right when the compensation
  // follows a delay that changes with time (clock drift, a slowly moving source), since an
  // older frame's delay was the older one.
  Keep,
  // They are brought to the new compensation (their cross spectra turned by the change):
  // right when the path stayed as it was and only its estimate changed (a refined result).
  Rotate,
  // The average starts again from the first frame after a given position: right when the
  // path itself moved.
  Restart,
};

class DelayCompensation {
 public:
  // Fractions below this many samples are rounding of the caller's value, not a delay.
  static constexpr double kFractionFloor = 1e-4;

  // Tables for the bins 0 … fftSize/2; forgets the compensation.
  void resize(int32_t fftSize);

  // Delays of recorded channels 1 (left) and 2 (right) in samples, both >= 0; `swapped`
  // tells which recorded channel reaches stream channel A (swapped: channel 2).
  void set(double leftSamples, double rightSamples, bool swapped);

  uint32_t wholeLeft() const { return wholeLeft_; }
  uint32_t wholeRight() const { return wholeRight_; }
  double leftSamples() const { return left_; }
  double rightSamples() const { return right_; }
  // The delay of stream channel A minus that of B, whole and fraction, in samples: the
  // cross spectrum conj(A)·B carries it as e^(+iωd).
  double net() const { return net_; }
  // Its part below a sample; 0 when the whole samples compensate everything.
  double fraction() const { return fraction_; }
  // e^(+iω_k·fraction) for k = 0 … N/2, null while the fraction is 0.
  const float* phaseRe() const { return fraction_ != 0.0 ? phaseRe_.get() : nullptr; }
  const float* phaseIm() const { return fraction_ != 0.0 ? phaseIm_.get() : nullptr; }

  // Multiplies bins 0 … bins−1 of a cross spectrum of an N-point transform by
  // e^(+iω_k·samples), ω_k = 2πk/N.
  static void rotate(float* re, float* im, size_t bins, int32_t n, double samples);

 private:
  static void phases(float* re, float* im, size_t bins, int32_t n, double samples);

  int32_t n_ = 0;
  double left_ = 0.0;
  double right_ = 0.0;
  uint32_t wholeLeft_ = 0;
  uint32_t wholeRight_ = 0;
  double net_ = 0.0;
  double fraction_ = 0.0;
  fft::AlignedFloats phaseRe_;
  fft::AlignedFloats phaseIm_;
};

}  // namespace qv
