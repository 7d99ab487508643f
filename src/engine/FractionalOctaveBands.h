#pragma once
// The bands of a 1/b-octave analyser (b = 1, 3, 6, 12, 24 or 48) with the base-ten octave
// ratio G = 10^(3/10): centres 1000·G^(x/b) Hz for whole x, edges G^(±1/2b) times the
// centre. Every resolution has a band centred on 1 kHz (the standard's even-b series, which
// puts 1 kHz on a band edge, would split the reference tone in two). The bands run from the
// one that reaches above 20 Hz to the last that starts below 20 kHz and is centred below the
// Nyquist frequency; a band whose upper edge lies above the Nyquist frequency is partial.
// A value object: built once, read from any thread.
#include <cstdint>
#include <vector>

namespace qv {

class FractionalOctaveBands {
 public:
  static constexpr int32_t kResolutions[] = {1, 3, 6, 12, 24, 48};
  static bool isSupported(int32_t bandsPerOctave);

  FractionalOctaveBands(int32_t bandsPerOctave, double samplingRate);

  int32_t bandsPerOctave() const { return bandsPerOctave_; }
  double samplingRate() const { return samplingRate_; }
  int32_t count() const { return static_cast<int32_t>(centre_.size()); }
  double centre(int32_t band) const { return centre_[band]; }
  double lower(int32_t band) const { return centre_[band] * edgeRatio_; }
  double upper(int32_t band) const { return centre_[band] / edgeRatio_; }
  bool partial(int32_t band) const { return upper(band) > samplingRate_ / 2.0; }
  // The band holding `frequencyHz`; -1 outside the bands.
  int32_t bandForFrequency(double frequencyHz) const;
  // x of the first band: its centre is 1000·G^(firstIndex / b).
  int32_t firstIndex() const { return firstIndex_; }

 private:
  int32_t bandsPerOctave_;
  double samplingRate_;
  double edgeRatio_;  // G^(-1/2b)
  int32_t firstIndex_ = 0;
  std::vector<double> centre_;
};

}  // namespace qv
