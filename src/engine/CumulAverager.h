#pragma once
// Running mean of every frame since the last reset (dense, no stride).
// Not thread-safe: one thread folds frames in and reads the outputs.
#include "engine/Averager.h"

namespace qv {

class CumulAverager : public Averager {
 public:
  // `type` and `avgSpeed` are accepted for symmetry with the other averagers; a mean has
  // no speed.
  CumulAverager(int32_t points, float* outputBuf, int32_t stride, uint64_t type, float avgSpeed);
  void processBufer(const float* frame) override;
  void reset() override;
  void setSpeedIndex(float index) override;
  uint32_t cumulN() const { return _cumulN; }

 private:
  uint32_t _cumulN = 0;
};

}  // namespace qv
