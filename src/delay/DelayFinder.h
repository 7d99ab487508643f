#pragma once
// Averaged auto- and cross-spectra of two channels, the impulse response of their
// transfer function and the peak search that turns it into a delay.
// Thread contract: none inside; used only by the thread that runs the finder's ticks.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Fft.h"
#include "platform/FftBackend.h"

namespace qv {

struct DelayFinder {
  // Discards everything held and rebuilds for `points` (a power of two the FFT backend
  // supports) and `samplingRate` (0 until a recorder has announced its rate).
  void setUp(int32_t points, int32_t samplingRate);

  // Folds one pair of spectra into the averages, leaves the transfer function's impulse
  // response in `impulse` and the sum of the per-bin coherence in `coherenceSum`. Both
  // spectra hold at least `half` interleaved complex bins (re, im). A pair with a
  // non-finite value changes nothing and gives false.
  bool update(const float* reference, const float* measurement, double* coherenceSum);

  // Index of the first largest |impulse| and its delay in seconds: positive when the
  // measurement lags the reference. Stores the delay in `delay`.
  int32_t findPeak();

  std::unique_ptr<Fft> engine;  // its window weights the transfer function
  int32_t points = 0;
  int32_t samplingRate = 0;
  fft::AlignedFloats impulse;  // points values
  std::vector<float> power;    // (Pxx, Pyy) per bin, half pairs
  std::vector<float> cross;    // Sxy (re, im) per bin, half pairs
  int32_t half = 0;
  float delay = 0.0f;

  // Half spectrum handed to the inverse real transform: half + 1 complex values.
  fft::AlignedFloats impulseSpectrum;
};

}  // namespace qv
