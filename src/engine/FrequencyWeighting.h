#pragma once
// The A, C and Z frequency weightings of sound level meters (IEC 61672-1), as the analogue
// functions of frequency, normalised to 0 dB at 1 kHz. Pure functions: any thread.
#include <optional>
#include <string_view>

namespace qv {

enum class Weighting { Z, A, C };

class FrequencyWeighting {
 public:
  // The poles of the weighting networks, in Hz.
  static constexpr double kF1 = 20.598997;
  static constexpr double kF2 = 107.65265;
  static constexpr double kF3 = 737.86223;
  static constexpr double kF4 = 12194.217;

  // Amplitude gain at `frequencyHz` (1 at 1 kHz; 0 at 0 Hz for A and C).
  static double gain(Weighting weighting, double frequencyHz);
  static double gainDb(Weighting weighting, double frequencyHz);

  // "A", "C" or "Z", and back (also lower case); nothing for any other text.
  static const char* name(Weighting weighting);
  static std::optional<Weighting> fromName(std::string_view name);
};

}  // namespace qv
