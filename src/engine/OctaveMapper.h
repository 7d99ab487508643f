#pragma once
// Maps a linear FFT magnitude frame onto band powers on the log10 frequency axis (8 Hz up
// to the Nyquist frequency, at most 25 kHz). Chain thread only; tables are rebuilt when
// the FFT size, rate or resolution changes, and a frame allocates nothing.
#include <vector>

#include "engine/OneOutputPushUnitProtocol.h"
#include "engine/PushUnitProtocol.h"

namespace qv {

class OctaveMapper : public PushUnitProtocol, public OneOutputPushUnitProtocol {
 public:
  OctaveMapper() : OctaveMapper(12, 48000) {}
  OctaveMapper(int32_t octResolution, int64_t sampleRate);
  static std::shared_ptr<OctaveMapper> mapperToResolutionSampleRate(int32_t octResolution,
                                                                    int64_t sampleRate) {
    return std::make_shared<OctaveMapper>(octResolution, sampleRate);
  }

  void setFftSize(int32_t fftSize);
  void setSamplingRate(int64_t rate);
  // Rebuilds the axis and the tables; with no FFT size yet it only keeps R.
  void setOctResolution(int32_t octResolution);

  float frequencyForBandIndex(float index) const;
  float logFrequencyForBandIndex(float index) const;
  float bandIndexForLogFreq(float logFreq) const;
  float bandIndexForFreq(float freq) const;
  float interploatedBelowFreq() const;
  float numDbLinesForBitDepth(int32_t bitDepth) const;

  // `input` holds fftSize / 2 + 2 linear magnitudes at least (a chain frame holds fftSize).
  void transformInput(const float* input);

  uint64_t unitFunction() const override { return kUnitFunctionBandMapper; }
  UnitBufferSize unitGetInputSize() const override;
  UnitBufferSize unitGetOutputSize() const override;
  void pushUnitSetInputSize(UnitBufferSize size) override { setFftSize(size.size); }
  void pushUnitSetInputValues(const float* values) override;
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) override;
  std::shared_ptr<PushUnitProtocol> nextUnit() const override { return _outputUnit; }
  std::shared_ptr<UnitProtocol> previousUnit() const override { return _previousUnit.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    _previousUnit = std::move(unit);
  }

  int32_t bandCount() const { return _bandCount; }
  int32_t octResolution() const { return _octResolution; }
  int32_t fftSize() const { return _fftSize; }
  int64_t samplingRate() const { return _samplingRate; }
  int32_t startBand() const { return _startBand; }
  int32_t interpolatedBandCount() const { return _interpolatedBandCount; }
  float startFreq() const { return _startFreq; }
  float stopFreq() const { return _stopFreq; }
  float startFreqLog() const { return _startFreqLog; }
  float stopFreqLog() const { return _stopFreqLog; }
  const std::vector<float>& bandStartEndPt() const { return _bandStartEndPt; }
  const std::vector<float>& bands() const { return _bands; }
  std::vector<float>& bands() { return _bands; }

 private:
  void buildTables();

  std::vector<float> _bandStartEndPt;  // per band: first and last FFT point, fractional
  std::vector<float> _interpCenterBandRatios;
  std::vector<int32_t> _closestLowerFftPts;
  int32_t _interpolatedBandCount = 0;
  int32_t _octResolution = 0;
  int32_t _fftSize = 0;
  int32_t _bandCount = 0;
  int32_t _startBand = 1;
  float _startFreq = 8.0f;
  float _stopFreq = 0.0f;
  float _startFreqLog = 0.0f;
  float _stopFreqLog = 0.0f;
  int64_t _samplingRate = 0;
  std::vector<float> _bands;
  std::weak_ptr<UnitProtocol> _previousUnit;
  std::shared_ptr<PushUnitProtocol> _outputUnit;
};

}  // namespace qv
