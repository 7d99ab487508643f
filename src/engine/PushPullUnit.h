#pragma once
// Head of a chain: `update` pulls one frame from the input unit into its own buffer and
// pushes it down the chain. Chain thread only; allocates only when its size changes.
#include <vector>

#include "engine/PullUnitProtocol.h"
#include "engine/PushUnitProtocol.h"
#include "engine/Unit.h"

namespace qv {

class PushPullUnit : public Unit, public PullUnitProtocol, public PushUnitProtocol {
 public:
  using Unit::Unit;
  static std::shared_ptr<PushPullUnit> unit() { return std::make_shared<PushPullUnit>(); }

  uint64_t unitFunction() const override { return kUnitFunctionPullPush; }

  // Pull side.
  void pullUnitConnectInputTo(std::shared_ptr<PullUnitProtocol> unit) override;
  void setInputUnit(std::shared_ptr<PullUnitProtocol> unit);
  std::shared_ptr<PullUnitProtocol> inputUnit() const { return _inputUnit; }
  // Sizes the buffer and passes the size both up and down the chain.
  void pullUnitSetOutputSize(UnitBufferSize size) override;
  int32_t pullUnitCopyDataTo(float*) override { return 0; }
  std::shared_ptr<UnitProtocol> nextUnit() const override { return _outputUnit; }
  void setNextUnit(std::weak_ptr<UnitProtocol> unit) override { _nextUnit = std::move(unit); }

  void setBufferSize(int32_t count);
  int32_t bufferSize() const { return _inputSize.size; }

  // Push side: sizes and values come from the input unit, never from upstream pushes.
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) override;
  void pushUnitSetInputSize(UnitBufferSize) override {}
  void pushUnitSetInputValues(const float*) override {}
  std::shared_ptr<UnitProtocol> previousUnit() const override { return _previousUnit.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    _previousUnit = std::move(unit);
  }
  std::shared_ptr<PushUnitProtocol> outputUnit() const { return _outputUnit; }

  // Drives the chain: one frame from the input unit to the output unit.
  void update();

 private:
  std::vector<float> _ioBuffer;
  std::weak_ptr<UnitProtocol> _previousUnit;
  std::weak_ptr<UnitProtocol> _nextUnit;
  std::shared_ptr<PullUnitProtocol> _inputUnit;
  std::shared_ptr<PushUnitProtocol> _outputUnit;
};

}  // namespace qv
