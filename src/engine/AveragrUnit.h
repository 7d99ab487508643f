#pragma once
// Time-based average per point: the speed index is a time constant in milliseconds, and a
// frame is blended in by the fraction of it that has passed since the previous frame.
// Chain thread only; time comes from the injected clock.
#include "engine/PushUnit.h"
#include "platform/Clock.h"

namespace qv {

class AveragrUnit : public PushUnit {
 public:
  explicit AveragrUnit(std::shared_ptr<Clock> clock = Clock::system());
  AveragrUnit(float avgSpeed, std::shared_ptr<Clock> clock = Clock::system());
  static std::shared_ptr<AveragrUnit> averagerWithSpeed(
      float speed, std::shared_ptr<Clock> clock = Clock::system()) {
    return std::make_shared<AveragrUnit>(speed, std::move(clock));
  }

  uint64_t unitFunction() const override { return kUnitFunctionAverager; }
  void pushUnitSetInputValues(const float* values) override;
  void processBufer(const float* values);
  void reset();

  void setSpeedIndex(float speed);
  float speedIndex() const { return _speedIndex; }
  void setAttackCoef(float atk);
  void setReleaseCoef(float rls);
  void setAttackRelease(float atk, float rls);
  float attackCoef() const { return _attackCoef; }
  float releaseCoef() const { return _releaseCoef; }
  float releaseToAttackRatio() const { return _releaseToAttackRatio; }
  void setReleaseToAttackRatio(float ratio) { _releaseToAttackRatio = ratio; }
  double lastPassTime() const { return _lastPassTime; }

 private:
  std::shared_ptr<Clock> clock_;
  float x1 = 0.0f, x2 = 1.0f;  // attack weight (the time constant in s) and 1 - it
  float y1 = 0.0f, y2 = 1.0f;  // release weight and 1 - it; kept, not used here
  double _lastPassTime = 0.0;
  float _speedIndex = 0.0f;
  float _releaseToAttackRatio = 1.0f;
  float _attackCoef = 0.0f;
  float _releaseCoef = 0.0f;
};

}  // namespace qv
