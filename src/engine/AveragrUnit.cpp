#include "engine/AveragrUnit.h"

#include <algorithm>

#include "platform/Assert.h"

namespace qv {

AveragrUnit::AveragrUnit(std::shared_ptr<Clock> clock) : AveragrUnit(100.0f, std::move(clock)) {}

AveragrUnit::AveragrUnit(float avgSpeed, std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {
  QV_ASSERT(clock_);
  setSpeedIndex(avgSpeed);
  _lastPassTime = clock_->now();
}

void AveragrUnit::setSpeedIndex(float speed) {
  setAttackCoef(speed / 1000.0f / _releaseToAttackRatio);
  setReleaseCoef(speed / 1000.0f);
  _speedIndex = speed;
  _lastPassTime = clock_->now();
}

void AveragrUnit::setAttackCoef(float atk) {
  atk = std::min(atk, 1.0f);
  _attackCoef = x1 = atk;
  x2 = 1.0f - atk;
}

void AveragrUnit::setReleaseCoef(float rls) {
  _releaseCoef = y1 = rls;
  y2 = 1.0f - rls;
}

void AveragrUnit::setAttackRelease(float atk, float rls) {
  setAttackCoef(atk);
  setReleaseCoef(rls);
}

void AveragrUnit::processBufer(const float* values) {
  const double now = clock_->now();
  const double dt = now - _lastPassTime;
  _lastPassTime = now;
  // A zero time constant means no averaging; a clock that steps back blends nothing in
  // rather than extrapolating away from the new frame.
  const float w = x1 > 0.0f ? static_cast<float>(std::clamp(dt / x1, 0.0, 1.0)) : 1.0f;
  const int32_t n = _inputSize.size;
  for (int32_t i = 0; i < n; ++i) _buffer[i] = _buffer[i] * (1.0f - w) + values[i] * w;
}

void AveragrUnit::pushUnitSetInputValues(const float* values) {
  processBufer(values);
  pushBuffer();
}

void AveragrUnit::reset() {
  std::fill_n(_buffer.begin(), _inputSize.size, 0.0f);
  _lastPassTime = clock_->now();
}

}  // namespace qv
