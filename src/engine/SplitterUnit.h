#pragma once
// Fans one frame out to several push units, in the order they were connected.
// Chain thread only.
#include <vector>

#include "engine/PushUnitProtocol.h"

namespace qv {

class SplitterUnit : public PushUnitProtocol {
 public:
  SplitterUnit() { _outputs.reserve(4); }
  static std::shared_ptr<SplitterUnit> splitter() { return std::make_shared<SplitterUnit>(); }

  UnitBufferSize unitGetInputSize() const override { return _dataSize; }
  UnitBufferSize unitGetOutputSize() const override { return _dataSize; }
  uint64_t unitFunction() const override { return kUnitFunctionSplitter; }

  // A unit already connected is not added twice, but it is told the size again.
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) override;
  void removeUnit(const std::shared_ptr<PushUnitProtocol>& unit);
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;
  std::shared_ptr<UnitProtocol> previousUnit() const override { return _previousUnit.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override {
    _previousUnit = std::move(unit);
  }

  const std::vector<std::shared_ptr<PushUnitProtocol>>& outputs() const { return _outputs; }

 private:
  UnitBufferSize _dataSize;
  std::vector<std::shared_ptr<PushUnitProtocol>> _outputs;
  std::weak_ptr<UnitProtocol> _previousUnit;
};

}  // namespace qv
