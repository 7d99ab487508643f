#include "engine/LinToLogTransformer.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"
#include "platform/Log.h"

namespace qv {
namespace {

// 0.3 decade is taken as the octave: R bands span a frequency ratio of exactly 10^0.3.
double bandStep(int32_t octResolution) { return 0.3 / octResolution; }

}  // namespace

LinToLogTransformer::LinToLogTransformer(const float* inputBuffer, int32_t fftSize,
                                         int64_t sampleRate, int32_t octResolution)
    : _inputBuffer(inputBuffer) {
  // Not the virtual setter: a subclass is not constructed yet and finishes its own part.
  _fftSize = fftSize;
  _samplingRate = sampleRate;
  rebuildTables(octResolution);
}

LinToLogTransformer::~LinToLogTransformer() = default;

void LinToLogTransformer::setFftSizeWithSamplingRateOctResolution(int32_t fftSize,
                                                                  int64_t samplingRate,
                                                                  int32_t octResolution) {
  _fftSize = fftSize;
  _samplingRate = samplingRate;
  setOctResolution(octResolution);
}

void LinToLogTransformer::setOctResolution(int32_t octResolution) { rebuildTables(octResolution); }

float LinToLogTransformer::pointForFrequency(float frequency) const {
  return frequency * static_cast<float>(_fftSize) / static_cast<float>(_samplingRate);
}

float LinToLogTransformer::frequencyForPoint(int32_t point) const {
  return static_cast<float>(point) * static_cast<float>(_samplingRate) /
         static_cast<float>(_fftSize);
}

void LinToLogTransformer::rebuildTables(int32_t octResolution) {
  QV_ASSERT(octResolution > 0);
  QV_ASSERT(_fftSize > 0 && _samplingRate > 0);
  _octResolution = octResolution;
  const float step = static_cast<float>(bandStep(octResolution));
  _stopFreq = static_cast<float>(std::min(25000.0, static_cast<double>(_samplingRate) / 2.01));
  _startFreqLog = 0.90309f;
  _stopFreqLog = std::log10(_stopFreq);
  _startBand = 1;
  _startFreq = 8.0f;

  const int32_t bandCount = static_cast<int32_t>(
      std::trunc(std::round(_stopFreqLog / step) - std::round(0.90309f / step)));
  QV_ASSERT(bandCount > 0);
  _bandCount = bandCount;
  const auto count = static_cast<size_t>(bandCount);
  _bandStartEndPt = std::make_unique<float[]>(2 * count);
  _interpCenterBandRatios = std::make_unique<float[]>(count);
  _closestLowerFftPts = std::make_unique<int32_t[]>(count);
  _bands = std::make_unique<float[]>(count);

  const float half = static_cast<float>(_fftSize / 2);  // NOLINT(bugprone-integer-division)
  int32_t counter = _startBand;
  for (int32_t i = 0; i < bandCount; ++i) {
    const auto fi = static_cast<float>(i);
    const float fLo = frequencyForBandIndex(fi - 0.75f);
    const float fHi = frequencyForBandIndex(fi + 0.75f);
    const float f = frequencyForBandIndex(fi);
    if (i == 0) QV_ASSERT(f == _startFreq);
    _bands[i] = -180.0f;

    const float pLo = pointForFrequency(fLo);
    const float pHi = pointForFrequency(fHi);
    const float pC = pointForFrequency(f);
    const auto k = static_cast<int32_t>(std::trunc(pC));
    const auto k1 = static_cast<int32_t>(std::trunc(pC + 1.0));
    const float fk = frequencyForPoint(k);
    const float fk1 = frequencyForPoint(k1);
    QV_ASSERT_TEXT(fk <= f, "ptToHz <= f");
    QV_ASSERT_TEXT(fk1 >= f, "ptToHz >= f");

    const bool narrow = pHi - pLo < 2.0f;
    QV_ASSERT_TEXT(pC > pLo && pC < pHi && pLo > 0.0f, "n > n1 && n < n2 && n1 > 0.0");
    _bandStartEndPt[2 * i] = pLo >= half ? half - 2.0f : pLo;
    _bandStartEndPt[2 * i + 1] = pHi >= half ? half - 1.0f : pHi;
    QV_ASSERT_TEXT(f < fk1 && f > fLo, "f < fn2 && f > f1");
    if (narrow) ++counter;
    _interpCenterBandRatios[i] = (f - fk) / (fk1 - fk);
    _closestLowerFftPts[i] = k;
  }
  _interpolatedBandCount = counter + 2;
}

float LinToLogTransformer::frequencyForBandIndex(float index) const {
  const auto exponent = static_cast<float>(index * bandStep(_octResolution));
  return _startFreq * std::pow(10.0f, exponent);
}

float LinToLogTransformer::logFrequencyForBandIndex(float index) const {
  return static_cast<float>(index * bandStep(_octResolution)) + _startFreqLog;
}

float LinToLogTransformer::bandIndexForFreq(float frequency) const {
  return std::log10(frequency / _startFreq) / static_cast<float>(bandStep(_octResolution));
}

float LinToLogTransformer::bandIndexForLogFreq(float logFrequency) const {
  const float scaled = static_cast<float>(_octResolution) * (logFrequency - _startFreqLog);
  return static_cast<float>(scaled / 0.3);
}

int32_t LinToLogTransformer::closestBand(float frequency) const {
  const float index = std::round(bandIndexForFreq(frequency));
  if (!std::isfinite(index)) return -1;
  const auto last = static_cast<float>(_bandCount - 1);
  return static_cast<int32_t>(std::fmin(std::fmax(index, 0.0f), last));
}

BandPoint LinToLogTransformer::closestPoint(const float* curve, float frequency) const {
  const int32_t band = closestBand(frequency);
  if (band < 0) return {std::nan(""), std::nan("")};
  return {frequencyForBandIndex(static_cast<float>(band)), curve[band]};
}

float LinToLogTransformer::hzFromLogFreq(float logFrequency) {
  return std::pow(10.0f, logFrequency);
}

float LinToLogTransformer::logFreqFromHz(float frequency) { return std::log10(frequency); }

float LinToLogTransformer::interploatedBelowFreq() const {
  return frequencyForBandIndex(static_cast<float>(_interpolatedBandCount));
}

float LinToLogTransformer::numDbLinesForBitDepth(int32_t /*bitDepth*/) const {
  // The 96.33 dB range of 16-bit audio in lines 6 dB apart.
  log("RANGE_16_BIT: %3.2f", 96.3296);
  return 16.054934f;
}

void LinToLogTransformer::transform(double /*time*/) {
  if (!_inputBuffer) return;
  const float* input = _inputBuffer;
  for (int32_t b = _startBand; b < _bandCount; ++b) {
    const float start = _bandStartEndPt[2 * b];
    const float end = _bandStartEndPt[2 * b + 1];
    const float width = end - start;
    if (b < _interpolatedBandCount) {
      const int32_t k = _closestLowerFftPts[b];
      const float r = _interpCenterBandRatios[b];
      // Cosine interpolation keeps the curve smooth where bands are narrower than bins.
      const float mu = (1.0f - std::cos(static_cast<float>(M_PI) * r)) / 2.0f;
      const float v = input[k] * (1.0f - mu) + input[k + 1] * mu;
      if (std::isfinite(v)) _bands[b] = width * v * v;
    } else {
      const float a = std::ceil(start);
      const float c = std::ceil(end);
      const auto first = static_cast<int32_t>(a);
      const auto count = static_cast<int32_t>(std::trunc(c - a));
      float sum = 0.0f;
      for (int32_t j = 0; j < count; ++j) sum += input[first + j] * input[first + j];
      // A band of zero covered bins keeps its previous value instead of becoming NaN.
      if (count > 0) _bands[b] = width / static_cast<float>(count) * sum;
    }
  }
}

}  // namespace qv
