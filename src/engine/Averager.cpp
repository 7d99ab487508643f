#include "engine/Averager.h"

#include <algorithm>
#include <cstring>

#include "platform/Assert.h"

namespace qv {

Averager::Averager(int32_t points, float* outputBuf, int32_t stride, uint64_t type, float avgSpeed)
    : Averager(NoSpeed{}, points, outputBuf, stride, type) {
  Averager::setSpeedIndex(avgSpeed);
}

Averager::Averager(NoSpeed, int32_t points, float* outputBuf, int32_t stride, uint64_t type)
    : nodeCount(points), _stride(stride), outputBuf(outputBuf), _type(type) {}

void Averager::processBufer(const float* frame) {
  for (int32_t i = 0; i < nodeCount; ++i) {
    const float x = frame[i];
    float& o = outputBuf[static_cast<int64_t>(i) * _stride];
    o = x > o ? o * x2 + x * x1 : o * y2 + x * y1;
  }
}

void Averager::processBuferInPlace(const float* frame) {
  std::memcpy(outputBuf, frame, sizeof(float) * static_cast<size_t>(nodeCount));
}

void Averager::reset() {
  QV_ASSERT(outputBuf && nodeCount);
  std::fill_n(outputBuf, nodeCount, 0.0f);
}

void Averager::setSpeedIndex(float index) {
  QV_ASSERT(index <= 1000);
  setAttackCoef(index / 1000.0f / _releaseToAttackRatio);
  setReleaseCoef(index / 1000.0f);
  _speedIndex = index;
}

void Averager::setAttackCoef(float atk) {
  atk = std::min(atk, 1.0f);
  _attackCoef = x1 = atk;
  x2 = 1.0f - atk;
}

void Averager::setReleaseCoef(float rls) {
  QV_ASSERT_TEXT(rls <= 1.0f, "rls<=1.0f");
  _releaseCoef = y1 = rls;
  y2 = 1.0f - rls;
}

void Averager::setAttackRelease(float atk, float rls) {
  setAttackCoef(atk);
  setReleaseCoef(rls);
}

}  // namespace qv
