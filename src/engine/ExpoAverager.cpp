#include "engine/ExpoAverager.h"

namespace qv {

void ExpoAverager::processBufer(const float* frame) {
  for (int32_t i = 0; i < nodeCount; ++i) {
    const float x = frame[static_cast<int64_t>(i) * _stride];
    float& o = outputBuf[i];
    o = x > o ? o * x2 + x * x1 : o * y2 + x * y1;
  }
}

}  // namespace qv
