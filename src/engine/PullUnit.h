#pragma once
// Base of the sources a pull-push stage reads from; the base copies nothing.
// Chain thread only.
#include "engine/PullUnitProtocol.h"

namespace qv {

class PullUnit : public PullUnitProtocol {
 public:
  static std::shared_ptr<PullUnit> unit() { return std::make_shared<PullUnit>(); }

  UnitBufferSize unitGetInputSize() const override { return _inputSize; }
  UnitBufferSize unitGetOutputSize() const override { return _outputSize; }
  uint64_t unitFunction() const override { return kUnitFunctionPull; }

  void pullUnitConnectInputTo(std::shared_ptr<PullUnitProtocol> unit) override;
  int32_t pullUnitCopyDataTo(float* buffer) override;
  void pullUnitSetOutputSize(UnitBufferSize size) override { _inputSize = _outputSize = size; }
  std::shared_ptr<UnitProtocol> nextUnit() const override { return _nextUnit.lock(); }
  void setNextUnit(std::weak_ptr<UnitProtocol> unit) override { _nextUnit = std::move(unit); }

  std::shared_ptr<PullUnitProtocol> inputUnit() const { return _inputUnit; }
  void setInputUnit(std::shared_ptr<PullUnitProtocol> unit) { _inputUnit = std::move(unit); }

 protected:
  UnitBufferSize _outputSize;
  UnitBufferSize _inputSize;
  std::weak_ptr<UnitProtocol> _nextUnit;
  std::shared_ptr<PullUnitProtocol> _inputUnit;
};

}  // namespace qv
