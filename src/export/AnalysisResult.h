#pragma once
// What one run of the analysis leaves: the final curves per band and a summary.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

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
  // The averaging by what it does ("Fast (≈ 0.3 s)") and its time constant in seconds.
  std::string averagingLabel;
  double averagingTimeConstant = 0;
  // Audio the input lost: frames without room in a ring, and dropouts the device reported.
  uint64_t droppedFrames = 0;
  uint64_t xruns = 0;
  std::string source;  // file name(s) or device

  // Per band: centre frequency, magnitude in dB, phase in degrees, coherence 0 … 1.
  // NaN where the band is blanked.
  std::vector<float> frequency, magnitude, phase, coherence;
  // The last impulse response (scaled as the finder reports it), empty without one.
  std::vector<float> impulse;
};

}  // namespace qv
