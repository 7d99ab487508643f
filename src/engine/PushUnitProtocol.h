#pragma once
// A unit that values are pushed into. Chain thread only.
#include <memory>

#include "engine/UnitProtocol.h"

namespace qv {

class PushUnitProtocol : public virtual UnitProtocol {
 public:
  virtual void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) = 0;
  // Sizes arrive before any values of that size.
  virtual void pushUnitSetInputSize(UnitBufferSize size) = 0;
  // `values` holds the last input size's floats and is valid only during the call.
  virtual void pushUnitSetInputValues(const float* values) = 0;
  virtual std::shared_ptr<UnitProtocol> previousUnit() const = 0;
  virtual void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) = 0;
};

}  // namespace qv
