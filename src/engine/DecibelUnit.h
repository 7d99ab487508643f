#pragma once
// Converts power values to decibels (0 dB at 1.0). Chain thread only.
#include "engine/PushUnit.h"

namespace qv {

class DecibelUnit : public PushUnit {
 public:
  using PushUnit::PushUnit;
  static std::shared_ptr<DecibelUnit> unit() { return std::make_shared<DecibelUnit>(); }
  uint64_t unitFunction() const override { return kUnitFunctionDecibel; }
  void pushUnitSetInputValues(const float* values) override;
};

}  // namespace qv
