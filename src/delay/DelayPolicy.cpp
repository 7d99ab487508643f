#include "delay/DelayPolicy.h"

#include <algorithm>
#include <cmath>

#include "delay/DelaySearch.h"

namespace qv {

DelayPolicy::DelayPolicy() : DelayPolicy(Settings{}) {}

DelayPolicy::DelayPolicy(Settings settings) : settings_(settings) {}

void DelayPolicy::setMode(Mode mode) {
  settings_.mode = mode;
  runLength_ = 0;
}

void DelayPolicy::setApplied(double delayMs, uint32_t rate) {
  hasApplied_ = true;
  appliedMs_ = delayMs;
  appliedSamples_ = delayMs * rate / 1000.0;
  runLength_ = 0;
}

double DelayPolicy::jitter() const {
  // Neighbouring results differ by √2·σ of their noise; the median keeps out the odd one.
  if (differenceCount_ < 3) return 0.0;
  const size_t count = std::min(differenceCount_, kHistory);
  std::array<double, kHistory> d = differences_;
  std::nth_element(d.begin(), d.begin() + static_cast<ptrdiff_t>(count / 2),
                   d.begin() + static_cast<ptrdiff_t>(count));
  return d[count / 2] / 0.6745 / std::sqrt(2.0);
}

bool DelayPolicy::moving() const {
  // A straight line through the recent results: the delay moves when the line travels over
  // their span clearly more than the results scatter about it.
  const size_t count = std::min(foundCount_, kHistory);
  if (count < 8) return false;
  double mx = 0, my = 0;
  for (size_t i = 0; i < count; ++i) mx += found_[i].position, my += found_[i].delay;
  mx /= count, my /= count;
  double sxx = 0, sxy = 0;
  double first = found_[0].position;
  double last = first;
  for (size_t i = 0; i < count; ++i) {
    const double dx = found_[i].position - mx;
    sxx += dx * dx;
    sxy += dx * (found_[i].delay - my);
    first = std::min(first, found_[i].position);
    last = std::max(last, found_[i].position);
  }
  if (sxx <= 0.0) return false;
  const double slope = sxy / sxx;
  double residual = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double e = found_[i].delay - (my + slope * (found_[i].position - mx));
    residual += e * e;
  }
  residual = std::sqrt(residual / static_cast<double>(count - 2));
  const double travel = std::fabs(slope) * (last - first);
  return travel > 4.0 * residual + 1e-6;
}

DelayChange DelayPolicy::changeFor(double target, int64_t* restartFrom) const {
  const double change = std::fabs(target - appliedSamples_);
  // The finder saw the delay jump away from what is in effect, and where in the audio.
  if (runStep_ && std::fabs(runStepFrom_ - appliedSamples_) < change / 2.0) {
    *restartFrom = runStepPosition_;
    return DelayChange::Restart;
  }
  if (change > kLargeChange * settings_.displayFrame) {
    *restartFrom = DelayDecision::kRestartNow;
    return DelayChange::Restart;
  }
  return moving() ? DelayChange::Keep : DelayChange::Rotate;
}

DelayDecision DelayPolicy::consider(const DelayEstimate& e) {
  state_ = e.state;
  DelayDecision decision;
  if (e.state != DelayState::Found || e.rate == 0) {
    runLength_ = 0;
    return decision;
  }
  const double d = e.delaySamples;
  if (havePrevious_ && !e.step)
    differences_[differenceCount_++ % kHistory] = std::fabs(d - previous_);
  if (e.step) foundCount_ = 0;  // the line through the results starts again after a move
  found_[foundCount_++ % kHistory] = {e.midpoint, d};
  havePrevious_ = true;
  previous_ = d;
  tolerance_ = std::max({4.0 * jitter(), e.resolutionSamples(), 1e-3});

  // Does this result carry on the run being confirmed?
  const bool track = settings_.mode == Mode::Track;
  const double stepLimit = std::max(DelaySearch::kStepSeconds * e.rate, tolerance_);
  bool agrees = runLength_ > 0 && !e.step;
  if (agrees) {
    agrees = track ? std::fabs(d - runLatest_) <= stepLimit
                   : std::fabs(d - runSum_ / runLength_) <= tolerance_;
  }
  if (!agrees) {
    runLength_ = 0;
    runSum_ = 0.0;
    runStep_ = false;
  }
  if (e.step) {
    runStep_ = true;
    runStepFrom_ = e.stepFromSamples;
    runStepPosition_ = e.stepPosition;
  }
  ++runLength_;
  runSum_ += d;
  runLatest_ = d;

  if (settings_.mode == Mode::Manual) return decision;
  const int needed = track ? kTrackConfirmations : kAutoConfirmations;
  if (runLength_ < needed) return decision;
  const double target = track ? runLatest_ : runSum_ / runLength_;
  if (hasApplied_ && std::fabs(target - appliedSamples_) <= tolerance_) return decision;

  decision.change = changeFor(target, &decision.restartFrom);
  decision.insert = true;
  decision.delaySamples = target;
  decision.delayMs = target * 1000.0 / e.rate;
  hasApplied_ = true;
  appliedSamples_ = target;
  appliedMs_ = decision.delayMs;
  ++changes_;
  // A run that led to a change has done its work; the step it carried is spent.
  runStep_ = false;
  return decision;
}

}  // namespace qv
