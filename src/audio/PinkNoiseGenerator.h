#pragma once
// Band-limited pink noise: white noise from the subtractive source, the pink filter, a
// 4 Hz high-pass and a low-pass at 0.9297 of Nyquist. Plain data; only the playing
// stream's callback uses it while the stream exists.
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

  explicit PinkNoiseGenerator(float rate) { setup(rate); }
  void setup(float rate);
  // Fills `count` samples; allocation-free.
  void generate(float* out, uint32_t count, SubtractiveRandom& random);
  static float white(SubtractiveRandom& random);
};

}  // namespace qv
