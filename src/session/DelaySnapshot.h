#pragma once
// One result of the delay finder as the session publishes it: the estimate (delay to a
// fraction of a sample, its state and confidence, polarity, coherence), the drift being
// taken out when it was made, and the impulse it was read from. Immutable once published
// (see SnapshotPool); the impulse buffer is sized once, for the finder's window at the session's
// rate. Also the finder's reading as it travels to whoever applies it, and what the session holds
// in force.
#include <cstdint>
#include <span>
#include <vector>

#include "delay/DelayEstimate.h"
#include "delay/DelayPolicy.h"

namespace qv::session {

struct DelaySnapshot {
  // 1 for the session's first finder result, then one more for each.
  uint64_t serial = 0;
  // Its impulse pointer is null: the impulse is `buffer`.
  DelayEstimate estimate;
  // Seconds by which the measurement lags the reference (negative: it leads), and the mean
  // coherence (0 … 1): the estimate's, for a quick look.
  float delay = 0.0f;
  float coherence = 0.0f;
  // The drift taken out of the measurement (ppm) when the result was made.
  double driftPpm = 0.0;
  // `points` values of `buffer` are valid; point i lies at a lag of impulseStart + i
  // samples (a pure delay of gain g peaks at g).
  std::vector<float> buffer;
  int32_t points = 0;
  int64_t impulseStart = 0;

  std::span<const float> impulse() const { return {buffer.data(), static_cast<size_t>(points)}; }
};

// A finder result on its way to the acceptance rule: the estimate without its impulse, and
// a drift correction made with it (taken out of the stream from input frame driftFrom on).
struct FinderReading {
  DelayEstimate estimate;
  uint64_t serial = 0;  // of its DelaySnapshot
  double driftPpm = 0.0;
  bool driftChanged = false;
  int64_t driftFrom = 0;
};

// What the session holds: the newest reading, the delay in force and how it came about.
struct DelayStatus {
  bool haveReading = false;
  DelayEstimate estimate;  // the newest reading's (no impulse)
  // The delay in force in ms (positive holds back the reference) and in samples at the
  // session's rate: exactly what was set, never a rounded request.
  double appliedMs = 0.0;
  double appliedSamples = 0.0;
  // Delays the finder inserted so far.
  int changes = 0;
  double driftPpm = 0.0;
  DelayPolicy::Mode mode = DelayPolicy::Mode::Manual;
};

}  // namespace qv::session
