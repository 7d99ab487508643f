#pragma once
// Attack/release follower that reads a strided frame into a dense output.
// Not thread-safe: one thread folds frames in and reads the outputs.
#include "engine/Averager.h"

namespace qv {

class ExpoAverager : public Averager {
 public:
  using Averager::Averager;
  void processBufer(const float* frame) override;
};

}  // namespace qv
