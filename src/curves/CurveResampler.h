#pragma once
// Puts a curve measured on any frequency grid onto the band axis. Stateless; any thread.
#include <vector>

#include "curves/BandAxis.h"
#include "curves/BandCurves.h"

namespace qv::curves {

// A curve as a file gives it: rising frequencies in Hz, magnitude in dB, phase in degrees
// and coherence from 0 to 1 (NaN where blank); phase and coherence may be absent (empty).
struct CurvePoints {
  std::vector<double> frequency;
  std::vector<double> magnitude;
  std::vector<double> phase;
  std::vector<double> coherence;
};

class CurveResampler {
 public:
  // Two frequencies closer than this (relative) are one: a band's frequency written with
  // four decimals reads back as that band.
  static constexpr double kSameFrequency = 2e-5;

  // A band at a point's frequency takes the point's values; a band between two points takes
  // magnitude (dB), phase (unwrapped between the two) and coherence interpolated linearly in
  // log frequency, blank when either point is; bands below the first point or above the last
  // are blank. When every point lies on a band (a curve written from a trace), bands between
  // them stay blank, as they were. Without coherence, bands with a magnitude get coherence 1;
  // without phase, phase is blank.
  static BandCurves toAxis(const CurvePoints& points, const BandAxis& axis);
};

}  // namespace qv::curves
