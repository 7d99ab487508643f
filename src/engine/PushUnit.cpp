#include "engine/PushUnit.h"

#include "platform/Assert.h"

namespace qv {

void PushUnit::pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol> unit) {
  if (_outputUnit) _outputUnit->setPreviousUnit({});
  _outputUnit = std::move(unit);
  if (!_outputUnit) return;
  _outputUnit->setPreviousUnit(weak_from_this());
  _outputUnit->pushUnitSetInputSize(_outputSize);
}

void PushUnit::pushUnitSetInputSize(UnitBufferSize size) {
  _inputSize = _outputSize = size;
  allocInputBufferOfSize(size.size);
  noteNextUnitAboutSizeChange();
}

void PushUnit::pushUnitSetInputValues(const float* values) {
  if (_outputUnit) _outputUnit->pushUnitSetInputValues(values);
}

void PushUnit::allocInputBufferOfSize(int64_t count) {
  QV_ASSERT(count >= 0);
  _buffer.assign(static_cast<size_t>(count), 0.0f);
}

void PushUnit::freeInputBuffer() {
  _buffer.clear();
  _buffer.shrink_to_fit();
}

void PushUnit::noteNextUnitAboutSizeChange() {
  if (_outputUnit) _outputUnit->pushUnitSetInputSize(_outputSize);
}

void PushUnit::pushBuffer() {
  if (_outputUnit) _outputUnit->pushUnitSetInputValues(_buffer.data());
}

}  // namespace qv
