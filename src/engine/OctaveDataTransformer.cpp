#include "engine/OctaveDataTransformer.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"
#include "platform/Log.h"

namespace qv {

OctaveDataTransformer::OctaveDataTransformer(int32_t fftSize,
                                             std::shared_ptr<PullUnitProtocol> inputUnit,
                                             std::shared_ptr<PushUnitProtocol> outputUnit,
                                             std::shared_ptr<FFTDataSourceProtocol> dataSource,
                                             int32_t octResolution, float averagingSpeed,
                                             std::shared_ptr<Clock> clock)
    : _inputPullUnit(std::move(inputUnit)),
      _speedIndex(averagingSpeed),
      _fftDataSource(std::move(dataSource)) {
  QV_ASSERT(_fftDataSource);
  _fftDataSource->setRequestDataSize(static_cast<uint64_t>(fftSize));

  _freqMapper = OctaveMapper::mapperToResolutionSampleRate(
      octResolution, static_cast<int64_t>(_fftDataSource->samplingRate()));
  _averager = AveragrUnit::averagerWithSpeed(averagingSpeed, std::move(clock));
  _pushPullUnit = PushPullUnit::unit();
  _splitter = SplitterUnit::splitter();
  _toDbUnit = DecibelUnit::unit();

  _pushPullUnit->pullUnitConnectInputTo(_inputPullUnit);
  _pushPullUnit->pushUnitConnectOutputTo(_splitter);
  _splitter->pushUnitConnectOutputTo(_freqMapper);
  _freqMapper->pushUnitConnectOutputTo(_averager);
  _averager->pushUnitConnectOutputTo(_toDbUnit);
  if (outputUnit) setOutptPushUnit(std::move(outputUnit));
  // Sizing the head sizes every stage below it, so the first update has its buffers.
  setFftSize(fftSize);
}

void OctaveDataTransformer::setOutptPushUnit(std::shared_ptr<PushUnitProtocol> unit) {
  _outptPushUnit = unit;
  _toDbUnit->pushUnitConnectOutputTo(std::move(unit));
}

void OctaveDataTransformer::setFftSize(int32_t fftSize) {
  QV_ASSERT(fftSize >= 0);
  _fftDataSource->setRequestDataSize(static_cast<uint64_t>(fftSize));
  // The frame buffer at the head must match the mapper's FFT size, or the mapper would
  // read past a shorter frame; the size travels down to the mapper from there.
  _pushPullUnit->setBufferSize(fftSize);
  if (_freqMapper->fftSize() != fftSize) _freqMapper->setFftSize(fftSize);
}

void OctaveDataTransformer::setAveragingSpeed(float speed) {
  _averager->setSpeedIndex(speed);
  _speedIndex = speed;
}

float OctaveDataTransformer::clampedBand(float index) const {
  const float first = static_cast<float>(_freqMapper->startBand());
  const float last = static_cast<float>(std::max(_freqMapper->bandCount() - 1, 0));
  const float rounded = std::round(index);
  if (std::isnan(rounded)) return first;  // a negative frequency has no band
  return std::clamp(rounded, std::min(first, last), last);
}

float OctaveDataTransformer::bandIndexForFreq(float freq) const {
  return clampedBand(_freqMapper->bandIndexForFreq(freq));
}

float OctaveDataTransformer::bandIndexForLogFreq(float logFreq) const {
  return clampedBand(_freqMapper->bandIndexForLogFreq(logFreq));
}

float OctaveDataTransformer::closestLogBandDataForLogFrequency(float logFreq) const {
  return _freqMapper->logFrequencyForBandIndex(bandIndexForLogFreq(logFreq));
}

BandPoint OctaveDataTransformer::closestBandDataForFrequencyHz(float freq) const {
  const float band = std::round(_freqMapper->bandIndexForFreq(freq));
  return {_freqMapper->frequencyForBandIndex(band), 0.0};
}

void OctaveDataTransformer::setBandsFromArray(std::span<const float> values) {
  auto& bands = _freqMapper->bands();
  if (values.size() != bands.size() ||
      static_cast<int64_t>(values.size()) != _freqMapper->bandCount()) {
    log("Could not set Bands from loaded array: legths are different!");
    return;
  }
  std::copy(values.begin(), values.end(), bands.begin());
}

float OctaveDataTransformer::numDbLinesForBitDepth(int32_t bitDepth) const {
  log("RANGE_16_BIT: %3.2f", 96.3296);
  return _freqMapper->numDbLinesForBitDepth(bitDepth);
}

}  // namespace qv
