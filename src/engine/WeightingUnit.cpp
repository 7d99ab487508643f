#include "engine/WeightingUnit.h"

#include <algorithm>

namespace qv {

WeightingUnit::WeightingUnit(Weighting weighting, double samplingRate)
    : weighting_(weighting), samplingRate_(samplingRate) {}

void WeightingUnit::setWeighting(Weighting weighting) {
  weighting_ = weighting;
  buildGains();
}

void WeightingUnit::setSamplingRate(double samplingRate) {
  samplingRate_ = samplingRate;
  buildGains();
}

void WeightingUnit::pushUnitSetInputSize(UnitBufferSize size) {
  _inputSize = _outputSize = size;
  allocInputBufferOfSize(size.size);
  buildGains();
  noteNextUnitAboutSizeChange();
}

void WeightingUnit::buildGains() {
  const int32_t n = _inputSize.size;
  const int32_t bins = n >= 2 ? n / 2 + 1 : 0;
  gains_.assign(static_cast<size_t>(bins), 1.0f);
  if (weighting_ == Weighting::Z) return;
  for (int32_t k = 0; k < bins; ++k)
    gains_[k] = static_cast<float>(
        FrequencyWeighting::gain(weighting_, k * samplingRate_ / static_cast<double>(n)));
}

void WeightingUnit::pushUnitSetInputValues(const float* values) {
  if (weighting_ == Weighting::Z) {
    PushUnit::pushUnitSetInputValues(values);
    return;
  }
  const size_t bins = gains_.size();
  const float* g = gains_.data();
  float* out = _buffer.data();
  for (size_t k = 0; k < bins; ++k) out[k] = values[k] * g[k];
  pushBuffer();
}

}  // namespace qv
