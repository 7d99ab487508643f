#include "session/DelayAcceptance.h"

#include <cmath>

namespace qv::session {

DelayAcceptance::DelayAcceptance(int32_t displayFrame, uint32_t rate)
    : displayFrame_(displayFrame), rate_(rate), policy_(settings()) {}

DelayPolicy::Settings DelayAcceptance::settings() const {
  DelayPolicy::Settings s;
  s.mode = mode_;
  s.displayFrame = displayFrame_;
  return s;
}

void DelayAcceptance::setMode(Mode mode) {
  mode_ = mode;
  policy_.setMode(mode);
}

DelayDecision DelayAcceptance::consider(const DelayEstimate& estimate) {
  return policy_.consider(estimate);
}

void DelayAcceptance::setApplied(double delayMs) { policy_.setApplied(delayMs, rate_); }

DelayChange DelayAcceptance::changeByHand(double fromMs, double toMs) const {
  const double samples = std::fabs(toMs - fromMs) * rate_ / 1000.0;
  return samples > DelayPolicy::kLargeChange * displayFrame_ ? DelayChange::Restart
                                                             : DelayChange::Rotate;
}

void DelayAcceptance::restart() {
  const bool had = policy_.hasApplied();
  const double applied = policy_.appliedMs();
  changesBefore_ += policy_.changes();
  policy_ = DelayPolicy(settings());
  if (had) policy_.setApplied(applied, rate_);
}

}  // namespace qv::session
