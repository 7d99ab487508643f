#include "session/InputTap.h"

#include <cmath>

namespace qv::session {

void InputTap::takePeaks(float peaks[2]) {
  for (int c = 0; c < 2; ++c) peaks[c] = peaks_[c].exchange(0.0f, std::memory_order_relaxed);
}

void InputTap::getData(const void* data, uint32_t byteSize) {
  const auto* samples = static_cast<const float*>(data);
  const uint32_t frames = byteSize / kBytesPerFrame;
  float blockPeak[2] = {0.0f, 0.0f};
  for (uint32_t f = 0; f < frames; ++f) {
    for (int c = 0; c < 2; ++c) {
      // fmax drops a NaN sample rather than letting it stick as the peak.
      blockPeak[c] = std::fmax(blockPeak[c], std::fabs(samples[2 * f + c]));
    }
  }
  for (int c = 0; c < 2; ++c) {
    // The tick may take the peak meanwhile: a failed exchange sees its 0 and tries again.
    float held = peaks_[c].load(std::memory_order_relaxed);
    while (blockPeak[c] > held &&
           !peaks_[c].compare_exchange_weak(held, blockPeak[c], std::memory_order_relaxed)) {
    }
  }
  frames_.fetch_add(frames, std::memory_order_relaxed);
  blocks_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace qv::session
