#pragma once
// What one display tick published: the three live curves, the input levels and the
// settings the curves were made with. Immutable once published (see SnapshotPool); the
// vectors are sized once, when the pool is made.
#include <cstdint>
#include <memory>
#include <vector>

#include "curves/BandCurves.h"
#include "curves/MicCalibration.h"
#include "engine/BandPoint.h"
#include "engine/LinToLogTransformer.h"

namespace qv::session {

struct DisplaySnapshot {
  // Snapshots published before this one: 0 for the curves the session starts with.
  uint64_t serial = 0;
  double time = 0.0;  // on the session's clock
  // One value per band of `axis`: magnitude in dB, phase in degrees and coherence ×
  // kCoherenceScale, NaN where a band is blanked.
  std::vector<float> magnitude;
  std::vector<float> phase;
  std::vector<float> coherence;
  // The bands' frequencies; the session's axis, which outlives every snapshot.
  const LinToLogTransformer* axis = nullptr;
  // What the curves were made with.
  int64_t smoothing = 0;
  float averagingIndex = 0.0f;
  float coherenceThreshold = 0.0f;
  double delayMs = 0.0;  // the delay in force
  // Measurement, then reference: the peak of the blocks since the previous snapshot
  // (linear, 1 = full scale), shown at once when it rises and falling back by 5 % of the
  // gap per snapshot.
  float levels[2] = {0.0f, 0.0f};
  // What the input delivered so far.
  int64_t framesDelivered = 0;
  uint64_t blocksDelivered = 0;
  // Audio the input lost so far (MeasurementSession::losses(), as last looked at): frames
  // that found no room in a ring, and the dropouts the device reported (xruns).
  uint64_t droppedFrames = 0;
  uint64_t xruns = 0;
  // The microphone calibration `magnitude` is corrected by; null: none.
  std::shared_ptr<const curves::MicCalibration> calibration;
  // While a compare reference is set: the curves relative to it (live − reference in dB
  // and degrees, the live coherence), band by band like the curves.
  bool relativeShown = false;
  curves::BandCurves relative;

  int32_t bandCount() const { return static_cast<int32_t>(magnitude.size()); }
  // The band nearest to `frequency` (Hz, held within the axis) and its value in `curve`.
  BandPoint closest(const std::vector<float>& curve, float frequency) const {
    return axis->closestPoint(curve.data(), frequency);
  }
};

}  // namespace qv::session
