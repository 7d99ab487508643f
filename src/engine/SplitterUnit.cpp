#include "engine/SplitterUnit.h"

#include <algorithm>

namespace qv {

void SplitterUnit::pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) {
  if (!unit) return;
  if (std::find(_outputs.begin(), _outputs.end(), unit) == _outputs.end()) {
    _outputs.push_back(unit);
  }
  unit->setPreviousUnit(weak_from_this());
  unit->pushUnitSetInputSize(_dataSize);
}

void SplitterUnit::removeUnit(const std::shared_ptr<PushUnitProtocol>& unit) {
  const auto it = std::find(_outputs.begin(), _outputs.end(), unit);
  if (it == _outputs.end()) return;
  if (unit->previousUnit().get() == this) unit->setPreviousUnit({});
  _outputs.erase(it);
}

void SplitterUnit::pushUnitSetInputSize(UnitBufferSize size) {
  _dataSize = size;
  for (const auto& out : _outputs) out->pushUnitSetInputSize(size);
}

void SplitterUnit::pushUnitSetInputValues(const float* values) {
  for (const auto& out : _outputs) out->pushUnitSetInputValues(values);
}

}  // namespace qv
