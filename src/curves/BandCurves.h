#pragma once
// The three curves of a transfer function on the band axis, as the live analysis draws
// them and traces store them: magnitude in dB, phase in degrees (−180 to 180), coherence
// scaled to 0..180; NaN marks a blank band. A plain value; any thread.
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace qv::curves {

struct BandCurves {
  // Coherence 1 is stored and drawn as 180, on the phase plot's scale.
  static constexpr float kCoherenceScale = 180.0f;
  static constexpr float kBlank = std::numeric_limits<float>::quiet_NaN();

  std::vector<float> magnitude;
  std::vector<float> phase;
  std::vector<float> coherence;

  BandCurves() = default;
  // `bands` blank bands.
  explicit BandCurves(std::size_t bands)
      : magnitude(bands, kBlank), phase(bands, kBlank), coherence(bands, kBlank) {}

  std::size_t size() const { return magnitude.size(); }
  // All three curves of one length.
  bool consistent() const {
    return phase.size() == magnitude.size() && coherence.size() == magnitude.size();
  }
  // Resizes to `bands` blank bands; keeps the storage when the size is unchanged.
  void reset(std::size_t bands) {
    magnitude.assign(bands, kBlank);
    phase.assign(bands, kBlank);
    coherence.assign(bands, kBlank);
  }
};

// Wraps degrees into (−180, 180].
inline double wrapDegrees(double degrees) {
  double wrapped = std::remainder(degrees, 360.0);
  if (wrapped <= -180.0) wrapped += 360.0;
  return wrapped;
}

}  // namespace qv::curves
