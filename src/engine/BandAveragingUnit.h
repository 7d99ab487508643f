#pragma once
// Averages band powers from frame to frame as a SpectrumAveraging model says: none, the
// mean since the reset (a CumulAverager), or exponential with a time constant in seconds
// (an ExpoAverager whose weight follows the time between frames on the injected clock).
// An exponential average starts as the plain mean of the frames so far until the time
// constant takes over, so a fresh or reset average reads the level at once instead of
// rising from silence.
// Chain thread only; allocates only when the size or the model changes.
#include <memory>

#include "engine/Averager.h"
#include "engine/AveragingModel.h"
#include "engine/PushUnit.h"
#include "platform/Clock.h"

namespace qv {

class BandAveragingUnit : public PushUnit {
 public:
  BandAveragingUnit(AveragingModel model, std::shared_ptr<Clock> clock);

  void setAveraging(AveragingModel model);
  const AveragingModel& averaging() const { return model_; }
  void reset();
  // Frames folded in since the last reset.
  uint64_t frames() const { return frames_; }

  uint64_t unitFunction() const override { return kUnitFunctionAverager; }
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;

 private:
  void makeAverager();

  AveragingModel model_;
  std::shared_ptr<Clock> clock_;
  std::unique_ptr<Averager> averager_;
  uint64_t frames_ = 0;
  double lastTime_ = 0.0;
};

}  // namespace qv
