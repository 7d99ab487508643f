#pragma once
// What one run of the analysis leaves: the final curves per band, a summary, and how the
// delay and the curves behaved along the way.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
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

// One delay finder result and what became of it.
struct DelayTimelineRow {
  double timeSeconds = 0.0;  // of audio, when the result was made
  std::string state;         // "found", "unsure", "out of range"
  double foundMs = 0.0;      // the delay seen (beyond the range for "out of range")
  double foundSamples = 0.0;
  double insertedMs = 0.0;  // the delay in force after it
  bool changed = false;     // it changed the delay in force
  double peakToNext = 0.0;
  double peakToNoise = 0.0;
  bool inverted = false;
  double coherence = 0.0;  // mean, 0 … 1
  double driftPpm = 0.0;   // taken out of the measurement
};

// The curves at one moment (per band, as the final ones).
struct CurveSnapshot {
  double timeSeconds = 0.0;
  std::vector<float> magnitude, phase, coherence;
};

struct AnalysisResult {
  uint32_t sampleRate = 0;
  int fftSize = 0;
  long smoothing = 0;
  int averaging = 0;
  float coherenceThreshold = 0;
  double delaySetMs = 0;  // the delay in force at the end, as set
  // The delay the data source applied at the end, in ms and in samples: exactly the one
  // set, to well below a nanosecond.
  double delayAppliedMs = 0;
  double delayAppliedSamples = 0;
  std::string delayMode;  // "manual", "auto", "track"
  std::optional<std::pair<double, double>> finderBand;
  // The delay finder's last result.
  std::optional<double> delayFoundMs;
  std::optional<double> delayFoundSamples;
  std::optional<float> meanCoherence;  // 0 … 1
  std::string delayState = "unsure";   // "found", "unsure", "out of range"
  std::optional<double> peakToNext;    // the confidence: the arrival over the next one
  std::optional<double> peakToNoise;   // and over the noise floor
  std::optional<bool> inverted;        // polarity
  int delayChanges = 0;                // delays the finder inserted
  double driftPpm = 0;                 // drift between the channels' clocks taken out
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
  // The last impulse response (a pure delay peaks at 1), empty without one; point i lies at
  // a lag of impulseStart + i samples.
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
  // The microphone calibration the magnitude was corrected with (its file's name).
  std::optional<std::string> micCalibration;
  std::optional<TargetComparison> target;
  int64_t impulseStart = 0;

  std::vector<DelayTimelineRow> timeline;
  std::vector<CurveSnapshot> snapshots;
};

}  // namespace qv
