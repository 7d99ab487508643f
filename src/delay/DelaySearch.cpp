#include "delay/DelaySearch.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/Assert.h"

namespace qv {
namespace {

// While the coarse result is clear it is looked at every fifth tick only: its window spans
// seconds and moves by one tick's worth. While the fine search also holds the arrival, every
// twentieth: the coarse search then only watches for an arrival away from the fine windows,
// and once the fine search loses its arrival (a jump), the fifth-tick rule is back at once.
constexpr int64_t kCoarseEvery = 5;
constexpr int64_t kCoarseEveryWhileHeld = 20;
// Segments in which the two lags are held against each other when a move is located.
constexpr double kSegmentSeconds = 0.04;
// The fine windows are laid anew on an arrival further than this part of their transform
// from their middle: off by more, they hold less of each other's audio (1.5 % here).
constexpr double kRecentre = 1.0 / 64.0;

bool standsOut(const ImpulsePeak& peak) {
  return peak.peakToNoise() >= DelaySearch::kFoundPeakToNoise &&
         peak.peakToNext() >= DelaySearch::kFoundPeakToNext;
}

}  // namespace

void DelaySearch::setUp(uint32_t rate, const Settings& settings, int64_t position) {
  QV_ASSERT(rate > 0);
  rate_ = rate;
  settings_ = settings;
  settings_.rangeSeconds =
      std::clamp(settings.rangeSeconds, 1e-3, CoarseDelaySearch::kMaxRangeSeconds);
  fine_.setUp(rate, scratch_);
  fine_.setBand(settings_.bandLoHz, settings_.bandHiHz);
  fine_.setCoherenceWeighting(settings_.coherenceWeighting);
  // The fine windows alone reach a lag of an eighth of their transform without moving.
  useCoarse_ = rangeSamples() > fine_.size() / 8.0;
  if (useCoarse_) {
    coarse_.setUp(rate, settings_.rangeSeconds, scratch_);
    coarse_.setBand(settings_.bandLoHz, settings_.bandHiHz);
  }
  // The fine windows may lie the whole range back, and a move is looked for over a second
  // before them.
  const auto history = static_cast<size_t>(rangeSamples()) + static_cast<size_t>(fine_.size()) +
                       static_cast<size_t>(rate) * 2;
  measurement_.reset(history, position);
  reference_.reset(history, position);
  segment_ = fft::allocateFloats(static_cast<size_t>(kSegmentSeconds * rate) + 1);
  offset_ = 0;
  ticks_ = 0;
  coarseState_ = DelayState::Unsure;
  haveFound_ = false;
  fineHeld_ = false;
}

void DelaySearch::push(const float* frames, size_t count) {
  measurement_.push(frames, count, 2);
  reference_.push(frames + 1, count, 2);
  if (useCoarse_) coarse_.push(frames, count);
}

void DelaySearch::searchCoarse() {
  if (!useCoarse_) return;
  if (coarseState_ == DelayState::Found &&
      ticks_ % (fineHeld_ ? kCoarseEveryWhileHeld : kCoarseEvery) != 0)
    return;
  const CoarseDelaySearch::Result r = coarse_.search();
  coarseLag_ = r.lag;
  coarsePeak_ = r.peak;
  if (!standsOut(r.peak)) {
    coarseState_ = DelayState::Unsure;
    return;
  }
  coarseState_ = r.inRange && std::fabs(r.lag) <= rangeSamples() + coarse_.factor()
                     ? DelayState::Found
                     : DelayState::OutOfRange;
  // Lay the fine windows on the arrival when it lies away from them.
  if (coarseState_ == DelayState::Found && std::fabs(r.lag - offset_) > kRecentre * fine_.size()) {
    offset_ = std::llround(r.lag);
    fine_.reset();
  }
}

DelayEstimate DelaySearch::search() {
  QV_ASSERT(rate_ > 0);
  ++ticks_;
  searchCoarse();
  const FineDelaySearch::Result f = fine_.search(measurement_, reference_, offset_);

  DelayEstimate estimate;
  estimate.rate = rate_;
  estimate.position = position();
  estimate.midpoint = f.midpoint;
  estimate.averaged = fine_.averaged();
  estimate.peakToNext = f.peak.peakToNext();
  estimate.peakToNoise = f.peak.peakToNoise();
  estimate.inverted = f.inverted;
  estimate.meanCoherence = f.meanCoherence;
  estimate.topFrequencyHz = f.topFrequencyHz;
  estimate.impulse = fine_.impulse();
  estimate.impulseCount = fine_.size();
  estimate.impulseStart = offset_ - fine_.size() / 2;

  fineHeld_ = false;
  if (standsOut(f.peak)) {
    const double delay = static_cast<double>(offset_) + f.lag;
    if (std::fabs(delay) > rangeSamples()) {
      estimate.state = DelayState::OutOfRange;
      estimate.delaySamples = delay;
    } else if (std::fabs(f.lag) > kRecentre * fine_.size()) {
      // Seen near the edge of the windows: lay them on it, and read it from there.
      offset_ = std::llround(delay);
      fine_.reset();
      estimate.delaySamples = delay;
    } else {
      estimate.state = DelayState::Found;
      estimate.delaySamples = delay;
      noteStep(estimate);
      fineHeld_ = true;
    }
  } else if (coarseState_ == DelayState::OutOfRange) {
    // What stands out is the coarse search's arrival, beyond the range.
    estimate.state = DelayState::OutOfRange;
    estimate.delaySamples = coarseLag_;
    estimate.peakToNext = coarsePeak_.peakToNext();
    estimate.peakToNoise = coarsePeak_.peakToNoise();
  }
  return estimate;
}

void DelaySearch::noteStep(DelayEstimate& estimate) {
  const double threshold = std::max(kStepSeconds * rate_, 3.0 * estimate.resolutionSamples());
  if (haveFound_ && std::fabs(estimate.delaySamples - lastFound_) > threshold) {
    estimate.step = true;
    estimate.stepFromSamples = lastFound_;
    estimate.stepPosition = locateChange(lastFound_, estimate.delaySamples);
  }
  haveFound_ = true;
  lastFound_ = estimate.delaySamples;
}

int64_t DelaySearch::locateChange(double from, double to) {
  const auto length = static_cast<int64_t>(kSegmentSeconds * rate_);
  // A measurement ahead of the reference is held against reference samples still to come.
  const int64_t end =
      position() + std::min<int64_t>(0, static_cast<int64_t>(std::floor(std::min(from, to))));
  const int64_t earliest = end - fine_.size() - rate_ / 2;
  const int64_t lagFrom = std::llround(from);
  const int64_t lagTo = std::llround(to);
  float* m = segment_.get();
  const auto fits = [&](int64_t start, int64_t lag) {
    double cross = 0.0, power = 0.0;
    for (int64_t i = 0; i < length; ++i) {
      const double r = reference_.at(start + i - lag);
      cross += m[i] * r;
      power += r * r;
    }
    return power > 0.0 ? std::fabs(cross) / std::sqrt(power) : 0.0;
  };
  // Back from the newest segment for as long as the new lag fits better.
  int64_t start = end - length;
  int64_t firstNew = end;
  while (start >= earliest) {
    measurement_.copy(start, static_cast<size_t>(length), m);
    if (!(fits(start, lagTo) > fits(start, lagFrom))) break;
    firstNew = start;
    start -= length;
  }
  // The segment found first may have begun just before the move: its end is surely after.
  return std::min(end, firstNew + length);
}

}  // namespace qv
