#pragma once
// The one rule by which the delay finder's results become the delay in force, and how the
// averaged frames take a change (DelayPolicy: found, confirmed, larger than the measurement
// resolves; the average kept, turned or restarted as the finder saw the change). Manual
// holds whatever was set by hand and only watches; Auto inserts a steady delay; Track
// follows one that moves. A change made by hand turns the average when it is small (the
// path stayed, its compensation changed) and restarts it when it is a large part of the
// display's frame (the frames averaged before no longer line up).
// Thread contract: none inside; one thread (the session's control thread).
#include <cstdint>

#include "delay/DelayPolicy.h"

namespace qv::session {

class DelayAcceptance {
 public:
  using Mode = DelayPolicy::Mode;

  // The display's frame in samples, and the session's rate.
  DelayAcceptance(int32_t displayFrame, uint32_t rate);

  void setMode(Mode mode);
  Mode mode() const { return mode_; }
  // A finder result; the change to make, if any.
  DelayDecision consider(const DelayEstimate& estimate);
  // The delay in force was set by other means (by hand, at start-up), in ms.
  void setApplied(double delayMs);
  // How the average takes a change made by hand from `fromMs` to `toMs`.
  DelayChange changeByHand(double fromMs, double toMs) const;
  // The finder starts afresh (after a pause, on another device): its earlier results no
  // longer count towards a change; the delay in force stays.
  void restart();

  // Delays inserted so far, and the state of the newest result.
  int changes() const { return changesBefore_ + policy_.changes(); }
  DelayState state() const { return policy_.state(); }

 private:
  DelayPolicy::Settings settings() const;

  int32_t displayFrame_;
  uint32_t rate_;
  Mode mode_ = Mode::Manual;
  DelayPolicy policy_;
  int changesBefore_ = 0;
};

}  // namespace qv::session
