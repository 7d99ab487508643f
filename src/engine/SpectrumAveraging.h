#pragma once
// How a spectrum view averages its frames, and the choices offered to the user, each
// labelled by what it does in time. Kept as an AveragingModel: the type below and the
// time constant in seconds as its speed. A value type: any thread.
#include <string>
#include <vector>

#include "engine/AveragingModel.h"

namespace qv {

class SpectrumAveraging {
 public:
  enum Type : uint64_t {
    kNone = 0,         // every frame as it comes
    kExponential = 1,  // exponential with a time constant
    kInfinite = 2,     // the mean of every frame since the last reset
  };
  // The longest and shortest time constants accepted (also from stored settings).
  static constexpr double kMinSeconds = 0.05;
  static constexpr double kMaxSeconds = 600.0;

  static AveragingModel none() { return AveragingModel(kNone, 0.0f); }
  static AveragingModel exponential(double seconds) {
    return AveragingModel(kExponential, static_cast<float>(seconds));
  }
  static AveragingModel infinite() { return AveragingModel(kInfinite, 0.0f); }
  static bool isValid(const AveragingModel& model);

  // What the menu offers, shortest first.
  static std::vector<AveragingModel> choices();
  // For example "None (one frame, 0.68 s)", "Exponential, 1 s", "Infinite (since reset)";
  // a frame lasts fftSize / samplingRate.
  static std::string label(const AveragingModel& model, int fftSize, double samplingRate);
  // The weight a frame gets `seconds` after the previous one: 1 - exp(-seconds / τ).
  static double weightAfter(const AveragingModel& model, double seconds);
};

}  // namespace qv
