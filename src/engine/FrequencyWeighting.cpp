#include "engine/FrequencyWeighting.h"

#include <cmath>

namespace qv {
namespace {

// The weighting networks before normalisation: a double pole at f1 and at f4 for C, and
// for A also the single poles f2 and f3, over zeros at 0 Hz.
double rawGain(Weighting weighting, double f) {
  using W = FrequencyWeighting;
  const double f2 = f * f;
  const double lowAndHigh = (f2 + W::kF1 * W::kF1) * (f2 + W::kF4 * W::kF4);
  switch (weighting) {
    case Weighting::Z:
      return 1.0;
    case Weighting::C:
      return W::kF4 * W::kF4 * f2 / lowAndHigh;
    case Weighting::A:
      return W::kF4 * W::kF4 * f2 * f2 /
             (lowAndHigh * std::sqrt(f2 + W::kF2 * W::kF2) * std::sqrt(f2 + W::kF3 * W::kF3));
  }
  return 1.0;
}

}  // namespace

double FrequencyWeighting::gain(Weighting weighting, double frequencyHz) {
  // Normalised exactly at 1 kHz (the standard rounds the same constants to -2.000 dB for A
  // and -0.062 dB for C).
  static const double a1000 = rawGain(Weighting::A, 1000.0);
  static const double c1000 = rawGain(Weighting::C, 1000.0);
  const double f = std::fabs(frequencyHz);
  switch (weighting) {
    case Weighting::Z:
      return 1.0;
    case Weighting::A:
      return rawGain(Weighting::A, f) / a1000;
    case Weighting::C:
      return rawGain(Weighting::C, f) / c1000;
  }
  return 1.0;
}

double FrequencyWeighting::gainDb(Weighting weighting, double frequencyHz) {
  return 20.0 * std::log10(gain(weighting, frequencyHz));
}

const char* FrequencyWeighting::name(Weighting weighting) {
  switch (weighting) {
    case Weighting::A:
      return "A";
    case Weighting::C:
      return "C";
    case Weighting::Z:
      return "Z";
  }
  return "Z";
}

std::optional<Weighting> FrequencyWeighting::fromName(std::string_view name) {
  if (name == "A" || name == "a") return Weighting::A;
  if (name == "C" || name == "c") return Weighting::C;
  if (name == "Z" || name == "z") return Weighting::Z;
  return std::nullopt;
}

}  // namespace qv
