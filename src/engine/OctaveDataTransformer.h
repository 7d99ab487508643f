#pragma once
// Builds and drives the chain FFT frame -> band powers -> time average -> dB -> output.
// Created, driven and queried on one thread (the chain's); no locks.
#include <memory>
#include <span>

#include "engine/AveragrUnit.h"
#include "engine/BandPoint.h"
#include "engine/DecibelUnit.h"
#include "engine/FFTDataSourceProtocol.h"
#include "engine/OctaveMapper.h"
#include "engine/PullUnitProtocol.h"
#include "engine/PushPullUnit.h"
#include "engine/SplitterUnit.h"
#include "platform/Clock.h"

namespace qv {

class OctaveDataTransformer {
 public:
  // `inputUnit` fills each frame (fftSize floats) from `dataSource`; `outputUnit` may be
  // null and connected later with setOutptPushUnit.
  OctaveDataTransformer(int32_t fftSize, std::shared_ptr<PullUnitProtocol> inputUnit,
                        std::shared_ptr<PushUnitProtocol> outputUnit,
                        std::shared_ptr<FFTDataSourceProtocol> dataSource, int32_t octResolution,
                        float averagingSpeed, std::shared_ptr<Clock> clock = Clock::system());

  void setOutptPushUnit(std::shared_ptr<PushUnitProtocol> unit);
  std::shared_ptr<PushUnitProtocol> outptPushUnit() const { return _outptPushUnit; }

  void setFftSize(int32_t fftSize);
  int32_t fftSize() const { return _freqMapper->fftSize(); }
  void setOctResolution(int32_t octResolution) { _freqMapper->setOctResolution(octResolution); }
  int32_t octResolution() const { return _freqMapper->octResolution(); }
  int32_t bandCount() const { return _freqMapper->bandCount(); }
  int32_t startBand() const { return _freqMapper->startBand(); }
  float startFreq() const { return _freqMapper->startFreq(); }
  float stopFreq() const { return _freqMapper->stopFreq(); }
  float interploatedBelowFreq() const { return _freqMapper->interploatedBelowFreq(); }
  float frequencyForBandIndex(float index) const {
    return _freqMapper->frequencyForBandIndex(index);
  }

  void setAveragingSpeed(float speed);
  float averagingSpeed() const { return _averager->speedIndex(); }

  // One pass of one frame through the chain.
  void update() { _pushPullUnit->update(); }
  void resetAverages() { _averager->reset(); }

  // Nearest band held within [start band, band count - 1].
  float bandIndexForFreq(float freq) const;
  float bandIndexForLogFreq(float logFreq) const;
  float closestLogBandDataForLogFrequency(float logFreq) const;
  BandPoint closestBandDataForFrequencyHz(float freq) const;

  // Restores stored band powers; a list of another length is logged and ignored.
  void setBandsFromArray(std::span<const float> values);
  float numDbLinesForBitDepth(int32_t bitDepth) const;

  const std::shared_ptr<PushPullUnit>& pushPullUnit() const { return _pushPullUnit; }
  const std::shared_ptr<OctaveMapper>& freqMapper() const { return _freqMapper; }
  const std::shared_ptr<AveragrUnit>& averager() const { return _averager; }
  const std::shared_ptr<DecibelUnit>& toDbUnit() const { return _toDbUnit; }
  const std::shared_ptr<SplitterUnit>& splitter() const { return _splitter; }

 private:
  float clampedBand(float index) const;

  std::shared_ptr<PushPullUnit> _pushPullUnit;
  std::shared_ptr<PullUnitProtocol> _inputPullUnit;
  std::shared_ptr<OctaveMapper> _freqMapper;
  std::shared_ptr<AveragrUnit> _averager;
  std::shared_ptr<DecibelUnit> _toDbUnit;
  std::shared_ptr<SplitterUnit> _splitter;
  float _speedIndex;
  std::shared_ptr<PushUnitProtocol> _outptPushUnit;
  std::shared_ptr<FFTDataSourceProtocol> _fftDataSource;
};

}  // namespace qv
