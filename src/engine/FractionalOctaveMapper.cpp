#include "engine/FractionalOctaveMapper.h"

#include <algorithm>
#include <cmath>

#include "platform/Assert.h"

namespace qv {

FractionalOctaveMapper::FractionalOctaveMapper(int32_t bandsPerOctave, double samplingRate)
    : bands_(bandsPerOctave, samplingRate) {}

void FractionalOctaveMapper::setBandsPerOctave(int32_t bandsPerOctave) {
  bands_ = FractionalOctaveBands(bandsPerOctave, bands_.samplingRate());
  rebuild();
}

void FractionalOctaveMapper::setSamplingRate(double samplingRate) {
  bands_ = FractionalOctaveBands(bands_.bandsPerOctave(), samplingRate);
  rebuild();
}

void FractionalOctaveMapper::setFftSize(int32_t fftSize) {
  QV_ASSERT(fftSize >= 0);
  fftSize_ = fftSize;
  rebuild();
}

void FractionalOctaveMapper::rebuild() {
  const auto count = static_cast<size_t>(bands_.count());
  firstBin_.assign(count, 0);
  lastBin_.assign(count, -1);
  firstWeight_.assign(count, 0.0f);
  lastWeight_.assign(count, 0.0f);
  powers_.assign(count, 0.0f);
  if (fftSize_ >= 4) {
    const double binWidth = bands_.samplingRate() / fftSize_;
    const int32_t half = fftSize_ / 2;
    // The Nyquist bin has only its lower half inside the spectrum: stop below it.
    const double top = (half - 0.5) * binWidth;
    for (size_t b = 0; b < count; ++b) {
      const double lo = bands_.lower(static_cast<int32_t>(b)) / binWidth;
      const double hi = std::min(bands_.upper(static_cast<int32_t>(b)), top) / binWidth;
      if (!(hi > lo)) continue;
      // Bin k covers [k - 1/2, k + 1/2) in bin units.
      const auto first = static_cast<int32_t>(std::floor(lo + 0.5));
      const auto last = static_cast<int32_t>(std::min<double>(std::floor(hi + 0.5), half - 1));
      firstBin_[b] = first;
      lastBin_[b] = last;
      if (first == last) {
        firstWeight_[b] = static_cast<float>(hi - lo);
        lastWeight_[b] = 0.0f;
      } else {
        firstWeight_[b] = static_cast<float>(first + 0.5 - lo);
        lastWeight_[b] = static_cast<float>(hi - (last - 0.5));
      }
    }
  }
  if (_outputUnit) _outputUnit->pushUnitSetInputSize(unitGetOutputSize());
}

void FractionalOctaveMapper::transformInput(const float* x) {
  const auto count = static_cast<int32_t>(powers_.size());
  for (int32_t b = 0; b < count; ++b) {
    const int32_t first = firstBin_[b];
    const int32_t last = lastBin_[b];
    if (last < first) {
      powers_[b] = 0.0f;
      continue;
    }
    float sum = firstWeight_[b] * x[first] * x[first];
    if (last > first) {
      float interior = 0.0f;
#pragma omp simd reduction(+ : interior)
      for (int32_t k = first + 1; k < last; ++k) interior += x[k] * x[k];
      sum += interior + lastWeight_[b] * x[last] * x[last];
    }
    powers_[b] = sum;
  }
}

UnitBufferSize FractionalOctaveMapper::unitGetOutputSize() const {
  const int32_t n = bands_.count();
  if (n == 0) return {0, 1, 0.0f, 0.0f};
  return {n, 1, static_cast<float>(std::log10(bands_.centre(0))),
          static_cast<float>(std::log10(bands_.centre(n - 1)))};
}

void FractionalOctaveMapper::pushUnitSetInputValues(const float* values) {
  transformInput(values);
  if (_outputUnit) _outputUnit->pushUnitSetInputValues(powers_.data());
}

void FractionalOctaveMapper::pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) {
  if (_outputUnit) _outputUnit->setPreviousUnit({});
  _outputUnit = std::move(unit);
  if (!_outputUnit) return;
  _outputUnit->setPreviousUnit(weak_from_this());
  _outputUnit->pushUnitSetInputSize(unitGetOutputSize());
}

}  // namespace qv
