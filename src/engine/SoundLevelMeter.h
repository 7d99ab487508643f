#pragma once
// Sound level of the two recorded inputs (0 measurement, 1 reference): A, C or Z frequency
// weighting, Fast (125 ms) or Slow (1 s) exponential time weighting, the equivalent
// continuous level Leq over the interval since the last reset and the highest
// time-weighted level in it. Levels are dBFS (a full-scale sine reads 0 dB), or dB SPL for
// an input that has a calibration offset.
// Thread contract: one thread (the session's tick) processes blocks, changes settings and
// reads; nothing allocates after construction.
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "engine/FrequencyWeighting.h"
#include "engine/WeightingFilter.h"

namespace qv {

enum class TimeWeighting { Fast, Slow };

class SoundLevelMeter {
 public:
  static constexpr int kInputs = 2;

  struct Reading {
    double level = 0.0;       // time-weighted, now
    double leq = 0.0;         // since the last reset
    double maximum = 0.0;     // highest time-weighted level since the last reset
    double leqSeconds = 0.0;  // length of the Leq interval
    bool splUnits = false;    // dB SPL (the input is calibrated), else dBFS
  };

  SoundLevelMeter(double sampleRate, Weighting weighting, TimeWeighting timeWeighting);

  // A new weighting starts a new interval (an Leq over two weightings means nothing).
  void setWeighting(Weighting weighting);
  Weighting weighting() const { return weighting_; }
  void setTimeWeighting(TimeWeighting timeWeighting);
  TimeWeighting timeWeighting() const { return timeWeighting_; }
  // Decibels added to the input's dBFS to read dB SPL; nothing: the input reads dBFS.
  void setCalibrationOffset(int input, std::optional<double> offsetDb);
  std::optional<double> calibrationOffset(int input) const;

  // Interleaved frames of both inputs (measurement, reference), as the recorder delivers them.
  void process(const float* frames, size_t frameCount);
  // Starts a new Leq interval (and maximum).
  void resetLeq();

  // Levels in dB; -infinity for silence.
  Reading reading(int input) const;
  double sampleRate() const { return rate_; }

  // 10·log10 of twice a mean square: the level relative to a full-scale sine.
  static double dbfsFromMeanSquare(double meanSquare);

 private:
  struct Input {
    Input(Weighting weighting, double rate) : filter(weighting, rate) {}
    WeightingFilter filter;
    double timeWeighted = 0.0;  // mean square
    double sum = 0.0;           // of squares since the reset
    double maximum = 0.0;       // mean square
    std::optional<double> offset;
  };

  double rate_;
  Weighting weighting_;
  TimeWeighting timeWeighting_;
  double alpha_ = 0.0;  // per-sample weight of the exponential time weighting
  uint64_t samples_ = 0;
  std::vector<Input> inputs_;
};

}  // namespace qv
