#pragma once
// The spectrum view's choices as they are stored: bands per octave, weighting, averaging,
// whether calibrated inputs read dB SPL, and each input's calibration offset. Values that
// do not fit (a damaged or hand-edited settings file) read as the defaults. Main thread.
#include <QSettings>
#include <array>
#include <optional>

#include "engine/AveragingModel.h"
#include "engine/FrequencyWeighting.h"

namespace qv::gui {

struct SpectrumViewSettings {
  // The averaging choices offered, by their time constant in seconds; 0 is the mean since
  // the last reset.
  static constexpr double kAveragingSeconds[] = {0.125, 0.5, 1.0, 3.0, 10.0, 0.0};
  static constexpr int kBandChoices[] = {1, 3, 6, 12, 24, 48};

  bool shown = false;
  int bandsPerOctave = 3;
  Weighting weighting = Weighting::Z;
  double averagingSeconds = 1.0;
  bool splUnits = true;
  // Decibels from dBFS to dB SPL per input (measurement, reference).
  std::array<std::optional<double>, 2> calibration;
  double calibratorLevelDb = 94.0;

  AveragingModel averaging() const;

  static SpectrumViewSettings read(const QSettings& settings);
  void write(QSettings& settings) const;
};

}  // namespace qv::gui
