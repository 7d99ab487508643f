#pragma once
// The end of a spectrum chain: keeps the last frame of band levels in dB, plus an offset
// (a calibration, to read dB SPL), and the highest level of each band since the peaks
// were last reset.
// Chain thread only; the arrays are read on that thread and stay valid until the next
// frame or size.
#include <limits>
#include <vector>

#include "engine/PushUnitProtocol.h"

namespace qv {

class BandLevelSink : public PushUnitProtocol {
 public:
  static constexpr uint64_t kUnitFunctionLevelSink = 9;

  // A new offset resets the peaks, which were held in the old unit.
  void setOffsetDb(float offsetDb);
  float offsetDb() const { return offset_; }
  void resetPeaks();

  const std::vector<float>& levels() const { return levels_; }
  const std::vector<float>& peaks() const { return peaks_; }
  UnitBufferSize size() const { return size_; }

  UnitBufferSize unitGetInputSize() const override { return size_; }
  UnitBufferSize unitGetOutputSize() const override { return {}; }
  uint64_t unitFunction() const override { return kUnitFunctionLevelSink; }
  void pushUnitConnectOutputTo(std::shared_ptr<PushUnitProtocol>) override {}
  void pushUnitSetInputSize(UnitBufferSize size) override;
  void pushUnitSetInputValues(const float* values) override;
  std::shared_ptr<UnitProtocol> previousUnit() const override { return previous_.lock(); }
  void setPreviousUnit(std::weak_ptr<UnitProtocol> unit) override { previous_ = std::move(unit); }

 private:
  static constexpr float kNoPeak = -std::numeric_limits<float>::infinity();
  UnitBufferSize size_;
  float offset_ = 0.0f;
  std::vector<float> levels_;
  std::vector<float> peaks_;
  std::weak_ptr<UnitProtocol> previous_;
};

}  // namespace qv
