#pragma once
// One result of the delay finder: its impulse response, the delay at the impulse's
// largest sample and the mean coherence. Immutable once published (see SnapshotPool); the
// impulse buffer is sized once, for the finder's whole window.
#include <cstdint>
#include <span>
#include <vector>

namespace qv::session {

struct DelaySnapshot {
  // 1 for the session's first finder result, then one more for each.
  uint64_t serial = 0;
  // Seconds by which the measurement lags the reference (negative: it leads).
  float delay = 0.0f;
  // Mean coherence over the finder's bins, 0 … 1.
  float coherence = 0.0f;
  // The impulse response as the finder scales it; `points` values of `buffer` are valid.
  std::vector<float> buffer;
  int32_t points = 0;

  std::span<const float> impulse() const { return {buffer.data(), static_cast<size_t>(points)}; }
};

// A finder result as the acceptance rule sees it.
struct FinderReading {
  float delay = 0.0f;      // seconds
  float coherence = 0.0f;  // 0 … 1
  uint64_t serial = 0;     // of its DelaySnapshot
};

}  // namespace qv::session
