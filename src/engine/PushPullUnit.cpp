#include "engine/PushPullUnit.h"

#include "platform/Assert.h"

namespace qv {

void PushPullUnit::pullUnitConnectInputTo(std::shared_ptr<PullUnitProtocol> unit) {
  setInputUnit(std::move(unit));
}

void PushPullUnit::setInputUnit(std::shared_ptr<PullUnitProtocol> unit) {
  _inputUnit = std::move(unit);
  if (!_inputUnit) return;
  _inputUnit->setNextUnit(weak_from_this());
  // Taking the source's size through pullUnitSetOutputSize sizes the buffer too, so the
  // first update never hands the source a buffer shorter than what it writes.
  pullUnitSetOutputSize(_inputUnit->unitGetOutputSize());
}

void PushPullUnit::pullUnitSetOutputSize(UnitBufferSize size) {
  QV_ASSERT(size.size >= 0);
  _inputSize = _outputSize = size;
  _ioBuffer.assign(static_cast<size_t>(size.size), 0.0f);
  if (_inputUnit) _inputUnit->pullUnitSetOutputSize(size);
  if (_outputUnit) _outputUnit->pushUnitSetInputSize(size);
}

void PushPullUnit::setBufferSize(int32_t count) {
  pullUnitSetOutputSize(UnitBufferSize{count, 0, 0.0f, 0.0f});
}

void PushPullUnit::pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) {
  if (_outputUnit) _outputUnit->setPreviousUnit({});
  if (unit) {
    unit->pushUnitSetInputSize(_outputSize);
    unit->setPreviousUnit(weak_from_this());
  }
  _outputUnit = std::move(unit);
}

void PushPullUnit::update() {
  if (!_inputUnit || _ioBuffer.empty()) return;
  _inputUnit->pullUnitCopyDataTo(_ioBuffer.data());
  if (_outputUnit) _outputUnit->pushUnitSetInputValues(_ioBuffer.data());
}

}  // namespace qv
