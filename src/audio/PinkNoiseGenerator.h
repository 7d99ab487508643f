#pragma once
// Band-limited pink noise: white noise from the subtractive source, the pink filter, a
// 4 Hz high-pass (which also keeps DC off the loudspeaker) and a low-pass at 0.9297 of
// Nyquist, then a soft limiter as the last guard before the output. Plain data; only the
// playing stream's callback uses it while the stream exists.
#include <cstdint>

#include "audio/Biquad.h"
#include "audio/PinkFilter.h"
#include "audio/SubtractiveRandom.h"

namespace qv {

struct PinkNoiseGenerator {
  float nyquist = 0;
  Biquad highPass;
  Biquad lowPass;
  PinkFilter pink;

  // Samples below this magnitude pass untouched; above it they are bent smoothly towards
  // kCeiling, which no output sample ever exceeds.
  static constexpr float kKnee = 0.8f;
  static constexpr float kCeiling = 0.98f;

  explicit PinkNoiseGenerator(float rate) { setup(rate); }
  void setup(float rate);
  float rate() const { return nyquist * 2; }
  // Fills `count` samples; allocation-free.
  void generate(float* out, uint32_t count, SubtractiveRandom& random);
  static float white(SubtractiveRandom& random);
  // The output stage on its own: finite in, |out| <= kCeiling.
  static float limit(float x);
};

}  // namespace qv
