#pragma once
// The end of the spectrogram's chain: each frame of band levels (dB) becomes the next
// column of the history, with an offset added (a calibration, to read dB SPL).
// Chain thread only; a new band count makes a new history (the old one stays valid for
// readers that still hold it), a frame allocates nothing.
#include <memory>

#include "engine/PushUnitProtocol.h"
#include "engine/SpectrogramHistory.h"

namespace qv {

class SpectrogramColumnSink : public PushUnitProtocol {
 public:
  static constexpr uint64_t kUnitFunctionColumnSink = 10;

  explicit SpectrogramColumnSink(int32_t capacity);

  void setCapacity(int32_t capacity);
  void setOffsetDb(float offsetDb) { offset_ = offsetDb; }
  float offsetDb() const { return offset_; }
  // Null until the chain has told the sink its size.
  const std::shared_ptr<SpectrogramHistory>& history() const { return history_; }
  UnitBufferSize size() const { return size_; }

  UnitBufferSize unitGetInputSize() const override { return size_; }
  UnitBufferSize unitGetOutputSize() const override { return {}; }
  uint64_t unitFunction() const override { return kUnitFunctionColumnSink; }
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol>) override {}
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;
  std::shared_ptr<UnitProtocol> previousUnit() const override { return previous_.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override { previous_ = std::move(unit); }

 private:
  int32_t capacity_;
  UnitBufferSize size_;
  float offset_ = 0.0f;
  std::unique_ptr<float[]> column_;
  std::shared_ptr<SpectrogramHistory> history_;
  std::weak_ptr<UnitProtocol> previous_;
};

}  // namespace qv
