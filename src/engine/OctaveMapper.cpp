#include "engine/OctaveMapper.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/Assert.h"

namespace qv {

namespace {
// Below this an FFT frame has no bin pair to interpolate between for every band.
constexpr int32_t kMinFftSize = 4;
}  // namespace

OctaveMapper::OctaveMapper(int32_t octResolution, int64_t sampleRate) : _samplingRate(sampleRate) {
  setOctResolution(octResolution);
}

void OctaveMapper::setFftSize(int32_t fftSize) {
  QV_ASSERT(fftSize >= 0);
  _fftSize = fftSize;
  setOctResolution(_octResolution);
}

void OctaveMapper::setSamplingRate(int64_t rate) {
  _samplingRate = rate;
  setOctResolution(_octResolution);
}

void OctaveMapper::setOctResolution(int32_t octResolution) {
  QV_ASSERT(octResolution > 0);
  _octResolution = octResolution;
  // Without a frame length or a rate there is no axis to build; the old tables stay valid
  // for the frames they were built for.
  if (_fftSize < kMinFftSize || _samplingRate <= 0) return;
  buildTables();
  if (_outputUnit) _outputUnit->pushUnitSetInputSize(unitGetOutputSize());
}

void OctaveMapper::buildTables() {
  const float step = static_cast<float>(0.3 / _octResolution);
  _stopFreq = std::min(25000.0f, static_cast<float>(_samplingRate) * 0.5f);
  _startFreq = 8.0f;
  _startFreqLog = std::log10(8.0f);
  _stopFreqLog = std::log10(_stopFreq);
  _startBand = 1;
  const int32_t count = static_cast<int32_t>(
      std::trunc(std::round(_stopFreqLog / step) - std::round(_startFreqLog / step)));
  _bandCount = std::max(0, count);

  const auto b = static_cast<size_t>(_bandCount);
  _bandStartEndPt.assign(2 * b, 0.0f);
  _interpCenterBandRatios.assign(b, 0.0f);
  _closestLowerFftPts.assign(b, 0);
  _bands.assign(b, -180.0f);

  const float n = static_cast<float>(_fftSize);
  const float rate = static_cast<float>(_samplingRate);
  const auto point = [&](float f) { return f * n / rate; };
  const auto frequency = [&](int32_t k) { return static_cast<float>(k) * rate / n; };
  // The last whole point of the spectrum's lower half (N / 2 rounded down).
  const int32_t halfPoints = _fftSize / 2;
  const auto half = static_cast<float>(halfPoints);

  int32_t counter = _startBand;
  for (int32_t i = 0; i < _bandCount; ++i) {
    const float fi = static_cast<float>(i);
    const float fLo = frequencyForBandIndex(fi - 0.75f);
    const float fHi = frequencyForBandIndex(fi + 0.75f);
    const float f = frequencyForBandIndex(fi);
    const float pLo = point(fLo);
    const float pHi = point(fHi);
    const float pC = point(f);
    const auto k = static_cast<int32_t>(std::trunc(pC));
    const auto k1 = static_cast<int32_t>(std::trunc(pC + 1.0f));
    const auto at = 2 * static_cast<size_t>(i);
    _bandStartEndPt[at] = pLo >= half ? half - 2.0f : pLo;
    _bandStartEndPt[at + 1] = pHi >= half ? half - 1.0f : pHi;
    if (pHi - pLo < 2.0f) ++counter;
    _interpCenterBandRatios[i] = (f - frequency(k)) / (frequency(k1) - frequency(k));
    _closestLowerFftPts[i] = k;
  }
  _interpolatedBandCount = counter + 2;
}

float OctaveMapper::frequencyForBandIndex(float index) const {
  const auto exponent = static_cast<float>(index * (0.3 / _octResolution));
  return _startFreq * std::pow(10.0f, exponent);
}

float OctaveMapper::logFrequencyForBandIndex(float index) const {
  return static_cast<float>(index * (0.3 / _octResolution)) + _startFreqLog;
}

float OctaveMapper::bandIndexForLogFreq(float logFreq) const {
  const float product = static_cast<float>(_octResolution) * (logFreq - _startFreqLog);
  return static_cast<float>(product / 0.3);
}

float OctaveMapper::bandIndexForFreq(float freq) const {
  return std::log10(freq / _startFreq) / static_cast<float>(0.3 / _octResolution);
}

float OctaveMapper::interploatedBelowFreq() const {
  return frequencyForBandIndex(static_cast<float>(_interpolatedBandCount));
}

float OctaveMapper::numDbLinesForBitDepth(int32_t) const { return 16.054934f; }

void OctaveMapper::transformInput(const float* input) {
  const int32_t interpolated = std::min(_interpolatedBandCount, _bandCount);
  int32_t band = _startBand;
  for (; band < interpolated; ++band) {
    const int32_t k = _closestLowerFftPts[band];
    const float r = _interpCenterBandRatios[band];
    const float mu = (1.0f - std::cos(std::numbers::pi_v<float> * r)) * 0.5f;
    const float v = input[k] * (1.0f - mu) + input[k + 1] * mu;
    if (!std::isfinite(v)) continue;
    const auto at = 2 * static_cast<size_t>(band);
    const float width = _bandStartEndPt[at + 1] - _bandStartEndPt[at];
    _bands[band] = width * v * v;
  }
  for (; band < _bandCount; ++band) {
    const auto at = 2 * static_cast<size_t>(band);
    const float lo = _bandStartEndPt[at];
    const float hi = _bandStartEndPt[at + 1];
    const auto first = static_cast<int32_t>(std::ceil(lo));
    const auto count = static_cast<int32_t>(std::trunc(std::ceil(hi) - std::ceil(lo)));
    if (count < 1) continue;  // a top band squeezed below one bin by the clamp at N / 2
    float sum = 0.0f;
    for (int32_t j = first; j < first + count; ++j) sum += input[j] * input[j];
    _bands[band] = (hi - lo) / static_cast<float>(count) * sum;
  }
}

UnitBufferSize OctaveMapper::unitGetInputSize() const { return {_fftSize, 0, 0.0f, 0.0f}; }

UnitBufferSize OctaveMapper::unitGetOutputSize() const {
  if (_bandCount == 0) return {0, 1, 0.0f, 0.0f};
  return {_bandCount, 1, std::log10(frequencyForBandIndex(0.0f)),
          std::log10(frequencyForBandIndex(static_cast<float>(_bandCount - 1)))};
}

void OctaveMapper::pushUnitSetInputValues(const float* values) {
  transformInput(values);
  if (_outputUnit) _outputUnit->pushUnitSetInputValues(_bands.data());
}

void OctaveMapper::pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) {
  if (_outputUnit) _outputUnit->setPreviousUnit({});
  _outputUnit = std::move(unit);
  if (!_outputUnit) return;
  _outputUnit->setPreviousUnit(weak_from_this());
  _outputUnit->pushUnitSetInputSize(unitGetOutputSize());
}

}  // namespace qv
