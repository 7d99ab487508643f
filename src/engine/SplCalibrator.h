#pragma once
// Measures a sound level calibrator on one input and gives the offset that makes the input
// read the calibrator's level: "the calibrator reads 94 dB at 1 kHz" and the input measures
// -26 dBFS, so the offset is 120 dB. It refuses what is not a steady tone at the reference
// frequency (background noise, a calibrator taken off or switched on half way, a clipped
// input), so that a failed calibration never becomes an offset.
// Thread contract: one thread feeds blocks and reads the result; no allocation.
#include <cstddef>
#include <cstdint>

namespace qv {

class SplCalibrator {
 public:
  struct Settings {
    double referenceLevelDb = 94.0;        // what the calibrator produces, dB SPL
    double referenceFrequencyHz = 1000.0;  // its tone
    double seconds = 3.0;                  // how long to measure
  };
  enum class Status {
    Measuring,
    Done,
    TooQuiet,  // below kQuietestDbfs: nothing, or a wrong input
    Clipped,   // the input reached full scale: the level is unknown
    NotATone,  // less than kToneShareDb of the power lies near the reference frequency
    Unsteady,  // the two halves of the measurement differ by more than kSteadyDb
  };
  static constexpr double kQuietestDbfs = -80.0;
  static constexpr double kToneShareDb = 0.5;
  static constexpr double kSteadyDb = 0.5;
  // The first part of a measurement is not used: the filters settle and the hand that
  // pressed Calibrate moves away from the microphone.
  static constexpr double kSettleSeconds = 0.1;

  // `input` 0 (measurement) or 1 (reference) of interleaved two-input frames.
  SplCalibrator(double sampleRate, int input, Settings settings);

  // Interleaved frames (measurement, reference); ignored once a result is there.
  void process(const float* frames, size_t frameCount);

  Status status() const { return status_; }
  // Valid when status() is Done: referenceLevelDb - measuredDbfs().
  double offsetDb() const { return offset_; }
  // The tone's level in dBFS (a full-scale sine reads 0 dB), once measured.
  double measuredDbfs() const { return measured_; }
  // 0 … 1 of the measurement done.
  double progress() const;
  int input() const { return input_; }
  const Settings& settings() const { return settings_; }
  // Plain words for a status, for the user.
  static const char* describe(Status status);

 private:
  void finish();

  double rate_;
  int input_;
  Settings settings_;
  // The band-pass (a constant 0 dB peak, a third of an octave wide) that tells the tone
  // from the rest; in double precision, direct form I.
  double b0_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
  uint64_t settle_ = 0;
  uint64_t total_ = 0;  // samples measured after settling
  uint64_t seen_ = 0;
  double sum_[2] = {0, 0};  // wide-band power of each half
  double band_ = 0.0;       // power near the reference frequency
  float peak_ = 0.0f;
  Status status_ = Status::Measuring;
  double measured_ = 0.0;
  double offset_ = 0.0;
};

}  // namespace qv
