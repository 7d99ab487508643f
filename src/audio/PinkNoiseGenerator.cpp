#include "audio/PinkNoiseGenerator.h"

#include <cmath>

namespace qv {

void PinkNoiseGenerator::setup(float rate) {
  nyquist = rate * 0.5f;
  highPass.reset();
  lowPass.reset();
  pink.reset();
  highPass.designHighPass(4.0 / static_cast<double>(nyquist));
  lowPass.designLowPass(0.9297);
}

float PinkNoiseGenerator::white(SubtractiveRandom& random) {
  // 16 random bits centred on zero, scaled to [-0.125, 0.125) to leave headroom for the
  // pink filter's gain.
  return (static_cast<float>(random.next(65536)) - 32768.0f) * (1.0f / 65536.0f) * 0.25f;
}

float PinkNoiseGenerator::limit(float x) {
  const float a = std::fabs(x);
  if (a <= kKnee) return x;
  // tanh keeps the slope continuous at the knee and never passes the ceiling.
  const float span = kCeiling - kKnee;
  const float bent = kKnee + span * std::tanh((a - kKnee) / span);
  return std::copysign(bent, x);
}

void PinkNoiseGenerator::generate(float* out, uint32_t count, SubtractiveRandom& random) {
  for (uint32_t n = 0; n < count; ++n) out[n] = pink.process(white(random));
  highPass.process(out, count);
  lowPass.process(out, count);
  bool finite = true;
  for (uint32_t n = 0; n < count; ++n) {
    finite = finite && std::isfinite(out[n]);
    out[n] = limit(out[n]);
  }
  if (!finite) {
    // A filter that has gone bad must not reach the loudspeaker: silence this block and
    // start the filters again from rest.
    for (uint32_t n = 0; n < count; ++n) out[n] = 0;
    setup(nyquist * 2);
  }
}

}  // namespace qv
