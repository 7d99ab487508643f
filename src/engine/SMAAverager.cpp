#include "engine/SMAAverager.h"

#include <algorithm>

#include "platform/Assert.h"

namespace qv {

SMAAverager::SMAAverager(int32_t points, float* outputBuf, int32_t stride, uint64_t /*type*/,
                         float avgSpeed)
    : Averager(NoSpeed{}, points, outputBuf, stride, 0),
      averagingBufers(static_cast<size_t>(kSmoothInterval + 1) * static_cast<size_t>(points),
                      0.0f) {
  setReleaseToAttackRatio(0.1f);
  setSpeedIndex(avgSpeed);
}

float* SMAAverager::slot(int32_t index) {
  return averagingBufers.data() + static_cast<size_t>(index) * static_cast<size_t>(nodeCount);
}

const float* SMAAverager::ringSlot(int32_t index) const {
  QV_ASSERT(index >= 0 && index <= smoothInterval);
  return averagingBufers.data() + static_cast<size_t>(index) * static_cast<size_t>(nodeCount);
}

void SMAAverager::processBufer(const float* frame) {
  QV_ASSERT(cReadAvgBufferIndex <= smoothInterval);
  float* w = slot(cWriteAvgBufferIndex);
  const float* r = slot(cReadAvgBufferIndex);
  if (_cumulN == 0) {
    std::copy_n(frame, nodeCount, outputBuf);
    std::copy_n(frame, nodeCount, w);
  } else {
    const float k = static_cast<float>(std::min<uint32_t>(_cumulN, smoothInterval));
    for (int32_t i = 0; i < nodeCount; ++i) {
      const float o = frame[i] / k + (outputBuf[i] - r[i] / k);
      outputBuf[i] = o;
      w[i] = o;
    }
  }
  cWriteAvgBufferIndex = cWriteAvgBufferIndex == smoothInterval ? 0 : cWriteAvgBufferIndex + 1;
  cReadAvgBufferIndex = cReadAvgBufferIndex == smoothInterval ? 0 : cReadAvgBufferIndex + 1;
  ++_cumulN;
}

void SMAAverager::reset() {
  Averager::reset();
  std::fill(averagingBufers.begin(), averagingBufers.end(), 0.0f);
  _cumulN = 0;
}

}  // namespace qv
