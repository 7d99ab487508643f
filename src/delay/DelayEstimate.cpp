#include "delay/DelayEstimate.h"

#include <algorithm>

namespace qv {

const char* delayStateName(DelayState state) {
  switch (state) {
    case DelayState::Found:
      return "found";
    case DelayState::OutOfRange:
      return "out of range";
    case DelayState::Unsure:
      break;
  }
  return "unsure";
}

double DelayEstimate::resolutionSamples() const {
  if (topFrequencyHz <= 0.0 || rate == 0) return 0.0;
  // 2° at the top of the coherent band.
  return 2.0 / 360.0 / topFrequencyHz * rate;
}

}  // namespace qv
