#include "engine/BandAveragingUnit.h"

#include <algorithm>

#include "engine/CumulAverager.h"
#include "engine/ExpoAverager.h"
#include "engine/SpectrumAveraging.h"
#include "platform/Assert.h"

namespace qv {

BandAveragingUnit::BandAveragingUnit(AveragingModel model, std::shared_ptr<Clock> clock)
    : model_(model), clock_(std::move(clock)) {
  QV_ASSERT(clock_);
  QV_ASSERT(SpectrumAveraging::isValid(model));
}

void BandAveragingUnit::setAveraging(AveragingModel model) {
  QV_ASSERT(SpectrumAveraging::isValid(model));
  model_ = model;
  makeAverager();
}

void BandAveragingUnit::pushUnitSetInputSize(UnitBufferSize size) {
  _inputSize = _outputSize = size;
  allocInputBufferOfSize(size.size);
  makeAverager();
  noteNextUnitAboutSizeChange();
}

void BandAveragingUnit::makeAverager() {
  const int32_t n = _inputSize.size;
  frames_ = 0;
  if (n <= 0) {
    averager_.reset();
    return;
  }
  // The averagers keep their running values in this unit's buffer.
  if (model_.averagingType() == SpectrumAveraging::kInfinite)
    averager_ = std::make_unique<CumulAverager>(n, _buffer.data(), 1, model_.averagingType(), 0.0f);
  else
    averager_ =
        std::make_unique<ExpoAverager>(n, _buffer.data(), 1, model_.averagingType(), 1000.0f);
  averager_->reset();
}

void BandAveragingUnit::reset() {
  frames_ = 0;
  if (averager_) averager_->reset();
}

void BandAveragingUnit::pushUnitSetInputValues(const float* values) {
  if (!averager_) return;
  const double now = clock_->now();
  ++frames_;
  switch (model_.averagingType()) {
    case SpectrumAveraging::kNone:
      averager_->processBuferInPlace(values);
      break;
    case SpectrumAveraging::kInfinite:
      averager_->processBufer(values);
      break;
    default: {
      // The mean of the frames so far until the exponential weight is the larger.
      const double mean = 1.0 / static_cast<double>(frames_);
      const double weight =
          frames_ == 1 ? 1.0
                       : std::max(mean, SpectrumAveraging::weightAfter(model_, now - lastTime_));
      averager_->setSpeedIndex(static_cast<float>(std::min(1.0, weight) * 1000.0));
      averager_->processBufer(values);
      break;
    }
  }
  lastTime_ = now;
  pushBuffer();
}

}  // namespace qv
