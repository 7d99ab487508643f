#pragma once
// Maps a frame of FFT magnitudes onto the power of each 1/b-octave band: the sum of the
// squared magnitudes of the bins inside the band, the two edge bins weighted by the share
// of their width (bin k spans k ± 1/2 bins) that lies inside it. A band narrower than a
// bin takes its share of the one bin it lies in: right for noise, and the best a frame of
// that length can do for a tone.
// Chain thread only; tables are rebuilt when the FFT size, rate or resolution changes, and
// a frame allocates nothing.
#include <memory>
#include <vector>

#include "engine/FractionalOctaveBands.h"
#include "engine/OneOutputPushUnitProtocol.h"
#include "engine/PushUnitProtocol.h"

namespace qv {

class FractionalOctaveMapper : public PushUnitProtocol, public OneOutputPushUnitProtocol {
 public:
  FractionalOctaveMapper(int32_t bandsPerOctave, double samplingRate);

  void setBandsPerOctave(int32_t bandsPerOctave);
  void setSamplingRate(double samplingRate);
  void setFftSize(int32_t fftSize);
  const FractionalOctaveBands& bands() const { return bands_; }
  int32_t fftSize() const { return fftSize_; }
  // The band powers of the last frame.
  const std::vector<float>& powers() const { return powers_; }

  // `magnitudes` holds bins 0 … N/2.
  void transformInput(const float* magnitudes);

  uint64_t unitFunction() const override { return kUnitFunctionBandMapper; }
  UnitBufferSize unitGetInputSize() const override { return {fftSize_, 0, 0.0f, 0.0f}; }
  UnitBufferSize unitGetOutputSize() const override;
  void pushUnitSetInputSize(UnitBufferSize size) override { setFftSize(size.size); }
  void pushUnitSetInputValues(const float* values) override;
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) override;
  std::shared_ptr<PushUnitProtocol> nextUnit() const override { return _outputUnit; }
  std::shared_ptr<UnitProtocol> previousUnit() const override { return _previousUnit.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    _previousUnit = std::move(unit);
  }

 private:
  void rebuild();

  FractionalOctaveBands bands_;
  int32_t fftSize_ = 0;
  // Per band: the first and last bin it touches and their weights (interior bins weigh 1).
  std::vector<int32_t> firstBin_, lastBin_;
  std::vector<float> firstWeight_, lastWeight_;
  std::vector<float> powers_;
  std::weak_ptr<UnitProtocol> _previousUnit;
  std::shared_ptr<PushUnitProtocol> _outputUnit;
};

}  // namespace qv
