#pragma once
// What a display tick does to the model's curves before it publishes them: corrects the
// magnitude by the microphone's calibration, and computes the live curves relative to a
// compare reference (live − reference in dB and degrees, the live coherence), the
// before/after view of an EQ change.
// Thread contract: configured and applied on the display tick's thread (the update queue,
// or the caller of a driven session); apply() allocates nothing. The values handed in are
// immutable and shared, so a snapshot may keep the calibration after it changed.
#include <cstddef>
#include <memory>
#include <vector>

#include "curves/BandCurves.h"
#include "curves/MicCalibration.h"
#include "session/DisplaySnapshot.h"

namespace qv::session {

class DisplayAdjustments {
 public:
  // For `bands` bands on the live analysis's axis.
  explicit DisplayAdjustments(std::size_t bands);

  // Null: no correction. The correction is worked out here, once.
  void setCalibration(std::shared_ptr<const curves::MicCalibration> calibration);
  const std::shared_ptr<const curves::MicCalibration>& calibration() const { return calibration_; }
  // Null: no relative curves.
  void setReference(std::shared_ptr<const curves::BandCurves> reference);
  bool hasReference() const { return reference_ != nullptr; }

  // The snapshot's curves as the model made them → corrected, with their relative curves
  // when there is a reference, and the calibration named.
  void apply(DisplaySnapshot& snapshot);

 private:
  std::size_t bands_;
  std::shared_ptr<const curves::MicCalibration> calibration_;
  std::vector<float> correction_;
  std::shared_ptr<const curves::BandCurves> reference_;
  curves::BandCurves live_;  // the corrected curves, for the difference
};

}  // namespace qv::session
