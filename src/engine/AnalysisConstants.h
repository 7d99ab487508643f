#pragma once
// The fixed figures of the live analysis, named once for every layer that uses them.
#include <cstdint>
#include <numbers>

namespace qv {

// Points of the FFT behind the live spectra.
inline constexpr int32_t kAnalysisFftSize = 32768;
// Bands per octave of the logarithmic frequency axis (an octave taken as 0.3 decade).
inline constexpr int32_t kBandsPerOctave = 96;
// The rate the analysis asks of a capture device and plays the generator at.
inline constexpr uint32_t kAnalysisSampleRate = 44100;
// One degree in radians, in single precision: the live phase curve divides by it.
inline constexpr float kRadiansPerDegree = 0.017453292f;
// Degrees in one radian, for phases worked out in double precision.
inline constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
// The curves keep coherence (0 … 1) multiplied by this, so that 0 … 100 % spans 0 … 180° on
// the phase chart it is drawn on.
inline constexpr float kCoherenceScale = 180.0f;

}  // namespace qv
