#pragma once
// The program's logarithmic frequency axis as a value: band i lies at 8 Hz · 10^(i · 0.3/96),
// the same float the live analysis computes, and the band count follows the sampling rate
// as the live analysis's does (1100 bands at 44.1 kHz). Curves of different band counts
// share their first bands. Immutable; any thread.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::curves {

class BandAxis {
 public:
  static constexpr int kOctResolution = 96;  // bands per 0.3 decade
  static constexpr float kStartFrequency = 8.0f;
  static constexpr std::int64_t kLiveSampleRate = 44100;

  explicit BandAxis(std::size_t bandCount);
  // The axis of the live analysis at `sampleRate`.
  static BandAxis forSampleRate(std::int64_t sampleRate);

  std::size_t bandCount() const { return frequencies_.size(); }
  float frequency(std::size_t band) const { return frequencies_[band]; }
  const std::vector<float>& frequencies() const { return frequencies_; }
  // The fractional band index of a frequency (negative below 8 Hz).
  static double bandForFrequency(double hz);
  // The frequency of band `index` as the live analysis computes it, in single precision.
  static float frequencyForBand(float index);

 private:
  std::vector<float> frequencies_;
};

}  // namespace qv::curves
