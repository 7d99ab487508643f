#pragma once
// A measurement microphone's calibration file: frequency and dB columns (further columns,
// such as phase, are ignored), optionally a sensitivity line before the data ("Sens Factor
// =-1.378dB", "Sensitivity: -37.2 dBFS"). The file gives the microphone's deviation at each
// frequency; measured magnitudes are corrected by subtracting it. Immutable once loaded;
// any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "curves/BandAxis.h"
#include "curves/CurveTextTable.h"

namespace qv::curves {

class MicCalibration {
 public:
  MicCalibration() = default;

  // `name` is what captures keep (the file's name); false with the line at fault.
  static bool parse(std::string_view text, std::string name, MicCalibration* calibration,
                    CurveFileError* error);
  static bool load(const std::string& path, MicCalibration* calibration, CurveFileError* error);

  const std::string& name() const { return name_; }
  // The sensitivity line's figure in dB; a transfer function (measurement over reference)
  // does not depend on it, so it is kept and shown, not applied.
  const std::optional<double>& sensitivityDb() const { return sensitivity_; }
  bool empty() const { return frequency_.empty(); }

  // What to add to a measured magnitude at each band of `axis`: minus the deviation,
  // interpolated in log frequency; beyond the file's range the nearest end's value holds
  // (calibration files rarely reach 8 Hz or 25 kHz, and a blank band would hide the
  // measurement).
  std::vector<float> correctionFor(const BandAxis& axis) const;
  // magnitude[b] += correction[b] over the shorter of the two; blank bands stay blank.
  // Allocates nothing.
  static void apply(std::vector<float>& magnitude, const std::vector<float>& correction);

 private:
  std::string name_;
  std::optional<double> sensitivity_;
  std::vector<double> frequency_;
  std::vector<double> deviation_;
};

}  // namespace qv::curves
