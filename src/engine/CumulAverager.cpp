#include "engine/CumulAverager.h"

namespace qv {

CumulAverager::CumulAverager(int32_t points, float* outputBuf, int32_t stride, uint64_t type,
                             float /*avgSpeed*/)
    : Averager(NoSpeed{}, points, outputBuf, stride, type) {}

void CumulAverager::processBufer(const float* frame) {
  const float n = static_cast<float>(_cumulN);
  for (int32_t i = 0; i < nodeCount; ++i) outputBuf[i] = (outputBuf[i] * n + frame[i]) / (n + 1.0f);
  ++_cumulN;
}

void CumulAverager::reset() {
  Averager::reset();
  _cumulN = 0;
}

void CumulAverager::setSpeedIndex(float) {}

}  // namespace qv
