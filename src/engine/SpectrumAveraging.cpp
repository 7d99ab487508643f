#include "engine/SpectrumAveraging.h"

#include <cmath>
#include <cstdio>

namespace qv {

bool SpectrumAveraging::isValid(const AveragingModel& model) {
  switch (model.averagingType()) {
    case kNone:
    case kInfinite:
      return true;
    case kExponential: {
      const double s = model.averagingSpeed();
      return s >= kMinSeconds && s <= kMaxSeconds;
    }
    default:
      return false;
  }
}

std::vector<AveragingModel> SpectrumAveraging::choices() {
  return {none(),           exponential(0.5),  exponential(1.0), exponential(2.0),
          exponential(5.0), exponential(10.0), infinite()};
}

std::string SpectrumAveraging::label(const AveragingModel& model, int fftSize,
                                     double samplingRate) {
  char text[64];
  switch (model.averagingType()) {
    case kExponential:
      std::snprintf(text, sizeof text, "Exponential, %g s", model.averagingSpeed());
      return text;
    case kInfinite:
      return "Infinite (since reset)";
    default:
      std::snprintf(text, sizeof text, "None (one frame, %.2f s)", fftSize / samplingRate);
      return text;
  }
}

double SpectrumAveraging::weightAfter(const AveragingModel& model, double seconds) {
  if (model.averagingType() != kExponential) return 1.0;
  if (!(seconds > 0.0)) return 0.0;
  return -std::expm1(-seconds / model.averagingSpeed());
}

}  // namespace qv
