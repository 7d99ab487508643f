#pragma once
// Two-channel test blocks: reference noise and a measurement that lags it by a fixed
// number of samples (negative: leads), interleaved as the recorder delivers them; and
// finder results made by hand.
#include <cstdint>
#include <random>
#include <vector>

#include "delay/DelayEstimate.h"

namespace qv::test {

// A found result at `delay` samples, `tick` ticks of 0.1 s into the stream, with a coherent
// band up to 10 kHz (so it resolves 2°/10 kHz = 0.027 samples at 48 kHz).
inline DelayEstimate found(double delay, int tick, uint32_t rate = 48000) {
  DelayEstimate e;
  e.state = DelayState::Found;
  e.rate = rate;
  e.delaySamples = delay;
  e.topFrequencyHz = 10000.0;
  e.position = static_cast<int64_t>(tick) * rate / 10;
  e.midpoint = static_cast<double>(e.position) - 8192.0;
  return e;
}

class DelayedNoise {
 public:
  DelayedNoise(int32_t lagSamples, uint32_t seed) : lag_(lagSamples), random_(seed) {}

  // The next `frames` frames: (measurement, reference).
  std::vector<float> block(int32_t frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    for (int32_t f = 0; f < frames; ++f, ++position_) {
      out[2 * static_cast<size_t>(f)] = at(position_ - lag_);
      out[2 * static_cast<size_t>(f) + 1] = at(position_);
    }
    return out;
  }

 private:
  // Noise by absolute sample index, generated on demand so a lead can look ahead.
  float at(int64_t index) {
    if (index < 0) return 0.0f;
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    while (static_cast<int64_t>(noise_.size()) <= index) noise_.push_back(uniform(random_));
    return noise_[static_cast<size_t>(index)];
  }

  int32_t lag_;
  std::mt19937 random_;
  std::vector<float> noise_;
  int64_t position_ = 0;
};

}  // namespace qv::test
