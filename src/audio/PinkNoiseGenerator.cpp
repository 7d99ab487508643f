#include "audio/PinkNoiseGenerator.h"

namespace qv {

void PinkNoiseGenerator::setup(float rate) {
  nyquist = rate * 0.5f;
  highPass.reset();
  lowPass.reset();
  pink.reset();
  highPass.designHighPass(4.0f / nyquist);
  lowPass.designLowPass(0.9297f);
}

float PinkNoiseGenerator::white(SubtractiveRandom& random) {
  // 16 random bits centred on zero, scaled to [-0.125, 0.125) to leave headroom for the
  // pink filter's gain.
  return (static_cast<float>(random.next(65536)) - 32768.0f) * (1.0f / 65536.0f) * 0.25f;
}

void PinkNoiseGenerator::generate(float* out, uint32_t count, SubtractiveRandom& random) {
  for (uint32_t n = 0; n < count; ++n) out[n] = pink.process(white(random));
  highPass.process(out, count);
  lowPass.process(out, count);
}

}  // namespace qv
