#pragma once
// Hands a processing chain the magnitudes of one channel's newest frame. The frame is the
// half spectrum (bins 0 … N/2, interleaved re, im) of the unscaled FFT of N samples under
// the periodic Hann window, as the spectral data source computes it every tick. Magnitudes
// are scaled so that the squared magnitudes of a band add up to the band's level relative
// to a full-scale sine: a sine of amplitude 1 adds up to 1 (0 dBFS).
// Thread contract: set and pulled on one thread (the tick); the spectrum is read only during
// the pull that follows setHalfSpectrum, never kept.
#include <cstdint>

#include "engine/FFTDataSourceProtocol.h"

namespace qv {

class SpectrumFrameSource : public FFTDataSourceProtocol {
 public:
  SpectrumFrameSource(uint64_t samplingRate, uint64_t fftSize);

  // The next pull reads this spectrum of an N-point frame; N must be the request size, or
  // the pull copies nothing.
  void setHalfSpectrum(const float* interleaved, uint64_t fftSize);

  // Writes the N/2 + 1 magnitudes (no more than `length`); 0 without a spectrum of the
  // requested size.
  uint32_t getDataInto(float* data, uint32_t length) override;
  uint64_t samplingRate() const override { return samplingRate_; }
  uint64_t requestDataSize() const override { return fftSize_; }
  void setRequestDataSize(uint64_t size) override;

  // The factor from an unscaled Hann-windowed FFT magnitude to the scale above.
  static double magnitudeScale(uint64_t fftSize);

 private:
  void useSize(uint64_t size);

  uint64_t samplingRate_;
  uint64_t fftSize_ = 0;
  float scale_ = 0.0f;
  const float* spectrum_ = nullptr;
};

}  // namespace qv
