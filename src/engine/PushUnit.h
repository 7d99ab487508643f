#pragma once
// A unit with one output buffer and one output unit: the base of the stages that
// transform a frame. Chain thread only; allocates only when its size changes.
#include <vector>

#include "engine/OneOutputPushUnitProtocol.h"
#include "engine/PushUnitProtocol.h"
#include "engine/Unit.h"

namespace qv {

class PushUnit : public Unit, public PushUnitProtocol, public OneOutputPushUnitProtocol {
 public:
  using Unit::Unit;
  static std::shared_ptr<PushUnit> unit() { return std::make_shared<PushUnit>(); }

  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) override;
  void pushUnitSetInputSize(UnitBufferSize size) override;
  // The base stage passes the frame on untouched.
  void pushUnitSetInputValues(const float* values) override;
  std::shared_ptr<UnitProtocol> previousUnit() const override { return _previousUnit.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    _previousUnit = std::move(unit);
  }
  std::shared_ptr<PushUnitProtocol> nextUnit() const override { return _outputUnit; }

  void allocInputBufferOfSize(int64_t count);
  void freeInputBuffer();
  const std::vector<float>& buffer() const { return _buffer; }

 protected:
  void noteNextUnitAboutSizeChange();
  void pushBuffer();

  std::vector<float> _buffer;
  std::shared_ptr<PushUnitProtocol> _outputUnit;
  std::weak_ptr<UnitProtocol> _previousUnit;
};

}  // namespace qv
