#pragma once
// The average of several curves of one system (several microphone positions, several
// takes). Stateless; any thread.
#include <vector>

#include "curves/BandCurves.h"

namespace qv::curves {

struct CurveAverageResult {
  BandCurves curves;
  // How well the phases agreed, from 1 (all alike) towards 0 (scattered): the median over
  // the bands of the length of the coherence-weighted mean of unit phasors. Well below 1
  // the averaged phase means little, most often because the curves were measured with
  // different delays: align them first.
  float phaseAgreement = 0.0f;
};

class CurveAverage {
 public:
  // Below this phase agreement the averaged phase is not worth showing without a warning:
  // aligned takes agree near 1, takes 3 and 7 ms apart about 0.58.
  static constexpr float kLowPhaseAgreement = 0.8f;

  // Band by band, over the curves that have a value there (the result is as long as the
  // longest curve): magnitude averaged in power, 10·log10 of the mean of 10^(dB/10);
  // phase the angle of the sum of unit phasors each weighted by its coherence (0 to 1),
  // so that an incoherent curve hardly moves it, blank when every weight is 0; coherence
  // the mean of the coherences. A curve without a coherence value at a band weighs 1.
  static CurveAverageResult average(const std::vector<const BandCurves*>& curves);
};

}  // namespace qv::curves
