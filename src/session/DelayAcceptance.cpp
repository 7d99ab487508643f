#include "session/DelayAcceptance.h"

#include <cmath>

namespace qv::session {
namespace {

constexpr float kMinimumCoherence = 0.1f;
constexpr float kLongestDelaySeconds = 3.0f;

}  // namespace

std::optional<float> DelayAcceptance::accept(float delaySeconds, float coherence) const {
  // Written so that a NaN in either part fails the test.
  if (!(coherence > kMinimumCoherence) || !(std::fabs(delaySeconds) <= kLongestDelaySeconds))
    return std::nullopt;
  // Up, not to the nearest: 5.0001 ms becomes 5.01 ms.
  return static_cast<float>(std::ceil(static_cast<double>(delaySeconds) * 100000.0) / 100.0);
}

}  // namespace qv::session
