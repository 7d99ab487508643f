#pragma once
// One result of the delay search: where the measurement's arrival lies relative to the
// reference, how sure the search is, and the impulse it was read from.
#include <cstdint>

namespace qv {

enum class DelayState : uint8_t {
  // Too little audio yet, or no arrival that stands out of the noise clearly enough (also
  // unrelated channels, and a lag beyond every window the search has).
  Unsure,
  // An arrival that stands out, within the range searched.
  Found,
  // An arrival that stands out but lies beyond the range searched: never to be inserted.
  OutOfRange,
};

const char* delayStateName(DelayState state);  // "found", "unsure", "out of range"

struct DelayEstimate {
  DelayState state = DelayState::Unsure;
  uint32_t rate = 0;
  // How far the measurement lags the reference (negative: leads), in samples, to a
  // fraction of a sample; for OutOfRange the lag seen beyond the range.
  double delaySamples = 0.0;
  double delaySeconds() const { return rate ? delaySamples / rate : 0.0; }
  // The arrival's height over the next highest arrival of the impulse's envelope, and over
  // its noise floor (the typical envelope height, so about 4.7 is the highest peak that
  // noise alone makes in a window of 65536).
  double peakToNext = 0.0;
  double peakToNoise = 0.0;
  // The measurement is the reference turned upside down (negative impulse at the arrival).
  bool inverted = false;
  // Mean coherence over the bins of the band searched, 0 … 1.
  double meanCoherence = 0.0;
  // Below this frequency lies 95 % of the coherent measurement power: the delay matters up
  // to there, and a change of 2° at it is the smallest worth making.
  double topFrequencyHz = 0.0;
  double resolutionSamples() const;
  // Frames taken in when the search ran (the newest sample's index + 1).
  int64_t position = 0;
  // Where in the stream (in frames) the delay holds: the middle of the measurement audio
  // averaged into it, each window weighted as the average weighs it. A delay that drifts is
  // read against this, not against `position`.
  double midpoint = 0.0;
  // Windows averaged since the fine search was last laid on the arrival: the first few
  // results after that are still settling.
  int64_t averaged = 0;
  // The delay jumped from the previous result (a move, not a refinement): from what, and
  // the first frame (same count as position) from which the measurement fits the new one.
  bool step = false;
  double stepFromSamples = 0.0;
  int64_t stepPosition = 0;
  // The impulse (real part of the analytic one, scaled so that a pure delay peaks at 1)
  // that the arrival was read from: `impulseCount` points, point i at a lag of
  // impulseStart + i samples. Valid while the estimate is being delivered.
  const float* impulse = nullptr;
  int32_t impulseCount = 0;
  int64_t impulseStart = 0;
};

}  // namespace qv
