#pragma once
// The A, C or Z weighting of one channel in the time domain, designed for the actual sample
// rate. The poles at 20.6, 107.7 and 737.9 Hz go through the bilinear transform (pre-warped
// to their own frequency; far below the Nyquist frequency the warping is negligible). The
// double pole at 12.2 kHz keeps its matched place z = exp(-2π·f4/fs), and two zeros are
// fitted (least squares on the relative power error up to 20 kHz) so that the magnitude
// follows the analogue one: a bilinear design would pull it to nothing at the Nyquist
// frequency, 2 dB low at 16 kHz when sampling at 44.1 kHz. In double precision, since a
// 20 Hz pole at 192 kHz sits 0.0007 from the unit circle.
// Thread contract: one thread processes; the design is made in the constructor.
#include <array>
#include <complex>
#include <cstddef>

#include "engine/FrequencyWeighting.h"

namespace qv {

class WeightingFilter {
 public:
  WeightingFilter(Weighting weighting, double sampleRate);

  // Filters `count` samples read `stride` floats apart; the state carries over.
  void process(const float* in, size_t stride, double* out, size_t count);
  double processSample(double x) {
    for (int s = 0; s < sections_; ++s) x = section_[s].run(x);
    return x * gain_;
  }
  void reset();

  // The designed filter's response at `frequencyHz`.
  std::complex<double> response(double frequencyHz) const;
  Weighting weighting() const { return weighting_; }
  double sampleRate() const { return rate_; }

 private:
  // Transposed direct form II.
  struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;
    double run(double x) {
      const double y = b0 * x + s1;
      s1 = b1 * x - a1 * y + s2;
      s2 = b2 * x - a2 * y;
      return y;
    }
    std::complex<double> response(std::complex<double> zInverse) const;
  };

  void addHighPassPair(double fa, double fb);
  void addHighFrequencyPole();

  Weighting weighting_;
  double rate_;
  std::array<Section, 3> section_{};
  int sections_ = 0;
  double gain_ = 1.0;
};

}  // namespace qv
