#include "engine/SpectrumPullUnit.h"

#include "platform/Assert.h"

namespace qv {

SpectrumPullUnit::SpectrumPullUnit(std::shared_ptr<FFTDataSourceProtocol> source)
    : source_(std::move(source)) {
  QV_ASSERT(source_);
}

int32_t SpectrumPullUnit::pullUnitCopyDataTo(float* buffer) {
  if (_outputSize.size <= 0) return 0;
  return static_cast<int32_t>(
      source_->getDataInto(buffer, static_cast<uint32_t>(_outputSize.size)));
}

}  // namespace qv
