#include "engine/DecibelUnit.h"

#include <cmath>

namespace qv {

void DecibelUnit::pushUnitSetInputValues(const float* values) {
  const int32_t n = _inputSize.size;
  for (int32_t i = 0; i < n; ++i) _buffer[i] = 10.0f * std::log10(values[i] / 1.0f);
  pushBuffer();
}

}  // namespace qv
