#pragma once
// Ring-backed average: the mean of the frames since the second one after a reset, turning
// into an exponential average of weight 1/smoothInterval once the ring is full.
// Not thread-safe: one thread folds frames in and reads the outputs.
#include <vector>

#include "engine/Averager.h"

namespace qv {

class SMAAverager : public Averager {
 public:
  static constexpr int32_t kSmoothInterval = 512;

  // `type` is not kept: this averager is its own type.
  SMAAverager(int32_t points, float* outputBuf, int32_t stride, uint64_t type, float avgSpeed);
  void processBufer(const float* frame) override;
  void reset() override;

  uint32_t cumulN() const { return _cumulN; }
  int32_t writeIndex() const { return cWriteAvgBufferIndex; }
  int32_t readIndex() const { return cReadAvgBufferIndex; }
  // One of the smoothInterval + 1 ring slots, nodeCount floats.
  const float* ringSlot(int32_t index) const;

 private:
  float* slot(int32_t index);

  // The ring's slots, contiguous: slot k starts at k * nodeCount.
  std::vector<float> averagingBufers;
  int32_t smoothInterval = kSmoothInterval;
  int32_t cWriteAvgBufferIndex = 0;
  int32_t cReadAvgBufferIndex = kSmoothInterval;
  uint32_t _cumulN = 0;
};

}  // namespace qv
