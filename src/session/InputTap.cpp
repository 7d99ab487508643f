#include "session/InputTap.h"

#include <cmath>

#include "platform/Vector.h"

namespace qv::session {
namespace {

// The largest magnitude of each channel of interleaved stereo frames, in eight lanes
// (four frames) at a time; a sample that is no number never wins a comparison, so it is
// dropped rather than sticking as the peak.
QV_VECTOR_CLONES void peaksOf(const float* samples, uint32_t frames, float peaks[2]) {
  constexpr uint32_t kLanes = 8;
  float lanes[kLanes] = {};
  const uint32_t values = 2 * frames;
  uint32_t i = 0;
  for (; i + kLanes <= values; i += kLanes)
    for (uint32_t l = 0; l < kLanes; ++l) {
      const float v = std::fabs(samples[i + l]);
      lanes[l] = lanes[l] < v ? v : lanes[l];
    }
  for (; i < values; ++i) {
    const float v = std::fabs(samples[i]);
    lanes[i % 2] = lanes[i % 2] < v ? v : lanes[i % 2];
  }
  for (uint32_t l = 0; l < kLanes; ++l)
    peaks[l % 2] = peaks[l % 2] < lanes[l] ? lanes[l] : peaks[l % 2];
}

}  // namespace

void InputTap::takePeaks(float peaks[2]) {
  for (int c = 0; c < 2; ++c) peaks[c] = peaks_[c].exchange(0.0f, std::memory_order_relaxed);
}

void InputTap::getData(const void* data, uint32_t byteSize) {
  const auto* samples = static_cast<const float*>(data);
  const uint32_t frames = byteSize / kBytesPerFrame;
  float blockPeak[2] = {0.0f, 0.0f};
  peaksOf(samples, frames, blockPeak);
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
