#include "engine/SpectrogramColumnSink.h"

#include "platform/Assert.h"

namespace qv {

SpectrogramColumnSink::SpectrogramColumnSink(int32_t capacity) : capacity_(capacity) {
  QV_ASSERT(capacity > 0);
}

void SpectrogramColumnSink::setCapacity(int32_t capacity) {
  QV_ASSERT(capacity > 0);
  if (capacity == capacity_) return;
  capacity_ = capacity;
  pushUnitSetInputSize(size_);
}

void SpectrogramColumnSink::pushUnitSetInputSize(UnitBufferSize size) {
  const bool same = history_ && size == size_ && capacity_ == history_->capacity();
  size_ = size;
  if (same) return;
  if (size.size <= 0) {
    history_.reset();
    column_.reset();
    return;
  }
  column_ = std::make_unique<float[]>(static_cast<size_t>(size.size));
  history_ = std::make_shared<SpectrogramHistory>(size.size, capacity_, size.minX, size.maxX);
}

void SpectrogramColumnSink::pushUnitSetInputValues(const float* values) {
  if (!history_) return;
  const int32_t n = size_.size;
  if (offset_ == 0.0f) {
    history_->addColumn(values);
    return;
  }
  float* column = column_.get();
  for (int32_t i = 0; i < n; ++i) column[i] = values[i] + offset_;
  history_->addColumn(column);
}

}  // namespace qv
