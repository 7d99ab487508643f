#include "engine/PullUnit.h"

namespace qv {

void PullUnit::pullUnitConnectInputTo(std::shared_ptr<PullUnitProtocol> unit) {
  _inputUnit = std::move(unit);
  if (_inputUnit) _inputUnit->setNextUnit(weak_from_this());
}

int32_t PullUnit::pullUnitCopyDataTo(float*) { return 0; }

}  // namespace qv
