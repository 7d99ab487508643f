#pragma once
// Applies the A, C or Z frequency weighting to a frame of FFT magnitudes (bins 0 … N/2 of
// an N-point frame), bin by bin from the analogue weighting function: exact at every bin,
// with no filter to design. Z passes the frame on untouched.
// Chain thread only; the gain table is rebuilt when the size, rate or weighting changes.
#include <vector>

#include "engine/FrequencyWeighting.h"
#include "engine/PushUnit.h"

namespace qv {

class WeightingUnit : public PushUnit {
 public:
  WeightingUnit(Weighting weighting, double samplingRate);

  void setWeighting(Weighting weighting);
  Weighting weighting() const { return weighting_; }
  void setSamplingRate(double samplingRate);

  uint64_t unitFunction() const override { return kUnitFunctionWeighting; }
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;

  // What `unitFunction` answers: the codes of the other units stop at 7.
  static constexpr uint64_t kUnitFunctionWeighting = 8;

 private:
  void buildGains();

  Weighting weighting_;
  double samplingRate_;
  std::vector<float> gains_;  // per bin 0 … N/2
};

}  // namespace qv
