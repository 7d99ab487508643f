#include "engine/SpectrumFrameSource.h"

#include <algorithm>
#include <cmath>

namespace qv {

SpectrumFrameSource::SpectrumFrameSource(uint64_t samplingRate, uint64_t fftSize)
    : samplingRate_(samplingRate) {
  useSize(fftSize);
}

double SpectrumFrameSource::magnitudeScale(uint64_t fftSize) {
  // A sine of amplitude 1 at a bin puts N/4 into that bin and N/8 into each neighbour
  // (the Hann window's three taps), 3N²/32 in all; a Hann frame of any signal sums
  // |X|² = N·Σw²·(mean square) = 3N²/8·(mean square) over the full spectrum, and a sine
  // is 0 dBFS at mean square 1/2. Both say: scale the squares by 32 / (3N²).
  if (fftSize == 0) return 0.0;
  return std::sqrt(32.0 / 3.0) / static_cast<double>(fftSize);
}

void SpectrumFrameSource::setRequestDataSize(uint64_t size) { useSize(size); }

void SpectrumFrameSource::useSize(uint64_t size) {
  fftSize_ = size;
  scale_ = static_cast<float>(magnitudeScale(size));
  spectrum_ = nullptr;
}

void SpectrumFrameSource::setHalfSpectrum(const float* interleaved, uint64_t fftSize) {
  spectrum_ = fftSize == fftSize_ ? interleaved : nullptr;
}

uint32_t SpectrumFrameSource::getDataInto(float* data, uint32_t length) {
  const float* x = spectrum_;
  spectrum_ = nullptr;
  if (x == nullptr || fftSize_ < 2) return 0;
  const auto bins = static_cast<uint32_t>(std::min<uint64_t>(fftSize_ / 2 + 1, length));
  const float s = scale_;
  for (uint32_t k = 0; k < bins; ++k)
    data[k] = s * std::sqrt(x[2 * k] * x[2 * k] + x[2 * k + 1] * x[2 * k + 1]);
  return bins;
}

}  // namespace qv
