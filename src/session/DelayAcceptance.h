#pragma once
// The one rule by which a delay finder's reading becomes the delay in force: it is taken
// only when the mean coherence is above 0.1 and the delay lies within ±3 s, and it is set
// in milliseconds rounded up to the next hundredth. A reading that is not a number in
// either part is never taken.
// Thread contract: a plain value; each caller uses it on its own thread.
#include <optional>

namespace qv::session {

class DelayAcceptance {
 public:
  // The delay to set (ms) for a reading of `delaySeconds` at `coherence` (0 … 1), if any.
  std::optional<float> accept(float delaySeconds, float coherence) const;
};

}  // namespace qv::session
