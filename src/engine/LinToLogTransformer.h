#pragma once
// The logarithmic frequency axis (bands evenly spaced in log10 f from 8 Hz to just below
// Nyquist, at most 25 kHz) and the tables that map linear FFT bins onto it.
// Thread contract: tables are rebuilt only by their owner, never while a reader walks them.
#include <cstdint>
#include <memory>

#include "engine/BandPoint.h"

namespace qv {

class LinToLogTransformer {
 public:
  // `inputBuffer` (may be null) is the linear spectrum read by the base transform; the
  // caller keeps it alive.
  LinToLogTransformer(const float* inputBuffer, int32_t fftSize, int64_t sampleRate,
                      int32_t octResolution);
  virtual ~LinToLogTransformer();
  LinToLogTransformer(const LinToLogTransformer&) = delete;
  LinToLogTransformer& operator=(const LinToLogTransformer&) = delete;

  virtual void setFftSizeWithSamplingRateOctResolution(int32_t fftSize, int64_t samplingRate,
                                                       int32_t octResolution);
  // Rebuilds the axis and every table; earlier table pointers become invalid.
  virtual void setOctResolution(int32_t octResolution);

  float frequencyForBandIndex(float index) const;
  float logFrequencyForBandIndex(float index) const;
  float bandIndexForFreq(float frequency) const;
  float bandIndexForLogFreq(float logFrequency) const;
  // The band nearest to a frequency, held within the axis; -1 for a frequency that is no
  // number (or not positive).
  int32_t closestBand(float frequency) const;
  // That band's frequency and its entry of `curve` (one value per band); NaN for -1.
  BandPoint closestPoint(const float* curve, float frequency) const;
  static float hzFromLogFreq(float logFrequency);
  static float logFreqFromHz(float frequency);

  // Below this frequency the bands are interpolated between FFT bins.
  float interploatedBelowFreq() const;
  float numDbLinesForBitDepth(int32_t bitDepth) const;

  // Squares the input spectrum into `bands` (band 0 keeps its start value).
  virtual void transform(double time);

  int32_t bandCount() const { return _bandCount; }
  int32_t octResolution() const { return _octResolution; }
  int64_t samplingRate() const { return _samplingRate; }
  int32_t fftSize() const { return _fftSize; }
  int32_t startBand() const { return _startBand; }
  const float* bands() const { return _bands.get(); }
  float startFreq() const { return _startFreq; }
  float stopFreq() const { return _stopFreq; }
  float startFreqLog() const { return _startFreqLog; }
  float stopFreqLog() const { return _stopFreqLog; }

  // Per band b: [2b] first and [2b + 1] last FFT point covered (fractional).
  const float* bandStartEndPt() const { return _bandStartEndPt.get(); }
  // Per band: where the centre lies between its two neighbouring bins, in [0, 1).
  const float* interpCenterBandRatios() const { return _interpCenterBandRatios.get(); }
  // Per band: the bin at or below the centre.
  const int32_t* closestLowerFftPts() const { return _closestLowerFftPts.get(); }
  // The leading bands that are interpolated rather than summed.
  int32_t interpolatedBandCount() const { return _interpolatedBandCount; }

 protected:
  float pointForFrequency(float frequency) const;
  float frequencyForPoint(int32_t point) const;

  int32_t _bandCount = 0;
  std::unique_ptr<float[]> _bandStartEndPt;
  std::unique_ptr<float[]> _interpCenterBandRatios;
  std::unique_ptr<int32_t[]> _closestLowerFftPts;
  int32_t _interpolatedBandCount = 0;
  const float* _inputBuffer = nullptr;
  int32_t _octResolution = 0;
  int32_t _fftSize = 0;
  int32_t _startBand = 1;
  float _startFreq = 8.0f;
  float _stopFreq = 0.0f;
  float _startFreqLog = 0.90309f;
  float _stopFreqLog = 0.0f;
  int64_t _samplingRate = 0;
  std::unique_ptr<float[]> _bands;

 private:
  void rebuildTables(int32_t octResolution);
};

}  // namespace qv
