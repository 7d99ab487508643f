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
  std::string source;  // file name(s) or device

  // Per band: centre frequency, magnitude in dB, phase in degrees, coherence 0 … 1.
  // NaN where the band is blanked.
  std::vector<float> frequency, magnitude, phase, coherence;
  // The last impulse response (scaled as the finder reports it), empty without one.
  std::vector<float> impulse;
  // Per band, when asked for: the group delay in milliseconds, NaN where blanked.
  std::vector<float> groupDelay;

  // The spectrum of both inputs, when asked for: fractional-octave bands, their levels
  // in dB relative to a full-scale sine after the weighting, -infinity for silence.
  struct Spectrum {
    int bandsPerOctave = 0;
    std::string weighting;           // "A", "C" or "Z"
    std::vector<float> frequency;    // band centres, Hz
    std::vector<float> measurement;  // dB
    std::vector<float> reference;    // dB
  };
  std::optional<Spectrum> spectrum;
};

}  // namespace qv
