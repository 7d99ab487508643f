#pragma once
// What the spectrum views' engines published on one display tick: the band levels of both
// inputs (RTA), the spectrogram's history, the group delay and the sound levels with the
// state of a calibration. A part is filled only while its view is shown. Immutable once
// published (see SnapshotPool); the vectors are sized once, when the pool is made, for the
// most values a part can hold.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/FrequencyWeighting.h"
#include "engine/SoundLevelMeter.h"
#include "engine/SpectrogramHistory.h"
#include "engine/SplCalibrator.h"

namespace qv::session {

struct ViewsSnapshot {
  // The most RTA points a snapshot carries (1/48 octave from 20 Hz to 20 kHz is under 500).
  static constexpr int32_t kMaxRtaPoints = 1024;
  static constexpr int kInputs = 2;  // measurement, reference

  uint64_t serial = 0;  // snapshots published before this one
  double time = 0.0;    // on the session's clock

  struct Rta {
    bool shown = false;
    // Frames analysed since the view was shown; the levels mean nothing before the first.
    uint64_t frames = 0;
    // Bands per octave, 0 for the narrow-band FFT.
    int32_t bandsPerOctave = 0;
    // Points (band centres), evenly spaced in log10 frequency from firstLog to lastLog.
    int32_t count = 0;
    float firstLog = 0.0f;
    float lastLog = 0.0f;
    // dB per point (kMaxRtaPoints each, `count` valid); -inf for silence.
    std::array<std::vector<float>, kInputs> levels;
    std::array<std::vector<float>, kInputs> peaks;
    // Whether the input's values are dB SPL (it is calibrated and SPL was asked for).
    std::array<bool, kInputs> spl{false, false};
    Weighting weighting = Weighting::Z;
  } rta;

  struct Spectrogram {
    bool shown = false;
    // The measurement input's history; readers copy its columns on any thread.
    std::shared_ptr<const SpectrogramHistory> history;
    bool spl = false;  // levels in dB SPL
  } spectrogram;

  struct GroupDelay {
    bool shown = false;
    // Milliseconds per band of the session's axis; NaN where the coherence is low.
    std::vector<float> values;
    float addedMs = 0.0f;  // the compensated delay added back
  } groupDelay;

  struct Level {
    bool shown = false;
    std::array<SoundLevelMeter::Reading, kInputs> readings{};
    Weighting weighting = Weighting::A;
    TimeWeighting timeWeighting = TimeWeighting::Fast;
  } level;

  // The calibration last asked for (serial 0: none yet); it stays in its final state until
  // the next one is asked for.
  struct Calibration {
    uint64_t serial = 0;
    int input = 0;
    SplCalibrator::Status status = SplCalibrator::Status::Measuring;
    double progress = 0.0;  // 0 … 1
    double offsetDb = 0.0;  // when Done
    double measuredDbfs = 0.0;
  } calibration;
};

}  // namespace qv::session
