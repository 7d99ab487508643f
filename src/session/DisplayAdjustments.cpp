#include "session/DisplayAdjustments.h"

#include <algorithm>

#include "curves/BandAxis.h"
#include "curves/CurveCompare.h"

namespace qv::session {

DisplayAdjustments::DisplayAdjustments(std::size_t bands) : bands_(bands), live_(bands) {}

void DisplayAdjustments::setCalibration(std::shared_ptr<const curves::MicCalibration> calibration) {
  calibration_ = std::move(calibration);
  if (calibration_) {
    correction_ = calibration_->correctionFor(curves::BandAxis(bands_));
  } else {
    correction_.clear();
  }
}

void DisplayAdjustments::setReference(std::shared_ptr<const curves::BandCurves> reference) {
  reference_ = std::move(reference);
}

void DisplayAdjustments::apply(DisplaySnapshot& s) {
  s.calibration = calibration_;
  if (!correction_.empty()) curves::MicCalibration::apply(s.magnitude, correction_);
  s.relativeShown = reference_ != nullptr;
  if (!reference_) return;
  // Same sizes as the snapshot's, so the copies and the difference reuse their storage.
  std::copy(s.magnitude.begin(), s.magnitude.end(), live_.magnitude.begin());
  std::copy(s.phase.begin(), s.phase.end(), live_.phase.begin());
  std::copy(s.coherence.begin(), s.coherence.end(), live_.coherence.begin());
  curves::CurveCompare::difference(live_, *reference_, s.relative);
}

}  // namespace qv::session
