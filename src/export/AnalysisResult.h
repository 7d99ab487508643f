#pragma once
// What one run of the analysis leaves: the final curves per band and a summary.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "curves/TargetCurve.h"

namespace qv {

// How a measured magnitude lies against a target curve and its tolerance band.
struct TargetComparison {
  std::string name;  // the target's file name
  curves::TargetSummary summary;
  // Per band of the result: the target's level and edges (NaN outside its points), and
  // how far the magnitude lies outside the band, in dB: positive above the upper edge,
  // negative below the lower one, 0 inside, NaN where either is missing.
  curves::TargetBands bands;
  std::vector<float> outside;
};

struct AnalysisResult {
  uint32_t sampleRate = 0;
  int fftSize = 0;
  long smoothing = 0;
  int averaging = 0;
  float coherenceThreshold = 0;
  float delaySetMs = 0;                // the delay in force at the end
  std::optional<float> delayFoundMs;   // the delay finder's last result
  std::optional<float> meanCoherence;  // the delay finder's mean coherence (0 … 1)
  int64_t framesAnalysed = 0;
  std::string source;  // file name(s) or device

  // Per band: centre frequency, magnitude in dB, phase in degrees, coherence 0 … 1.
  // NaN where the band is blanked.
  std::vector<float> frequency, magnitude, phase, coherence;
  // The last impulse response (scaled as the finder reports it), empty without one.
  std::vector<float> impulse;
  // The microphone calibration the magnitude was corrected with (its file's name).
  std::optional<std::string> micCalibration;
  std::optional<TargetComparison> target;
};

}  // namespace qv
