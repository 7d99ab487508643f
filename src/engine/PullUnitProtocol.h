#pragma once
// A unit that a frame is pulled from. Chain thread only.
#include <memory>

#include "engine/UnitProtocol.h"

namespace qv {

class PullUnitProtocol : public virtual UnitProtocol {
 public:
  virtual void pullUnitConnectInputTo(std::shared_ptr<PullUnitProtocol> unit) = 0;
  // Writes at most the output size's floats into `buffer`; returns how many it wrote.
  virtual int32_t pullUnitCopyDataTo(float* buffer) = 0;
  virtual void pullUnitSetOutputSize(UnitBufferSize size) = 0;
  virtual std::shared_ptr<UnitProtocol> nextUnit() const = 0;
  virtual void setNextUnit(std::weak_ptr<UnitProtocol> unit) = 0;
};

}  // namespace qv
