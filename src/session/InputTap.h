#pragma once
// A consumer that sees every block the display chain gets: it counts frames and blocks
// and keeps each channel's peak until the display tick takes it.
// Thread contract: getData and the format announcement on the recorder's queue (or the
// thread feeding a file); takePeaks on the display tick; the counts on any thread.
// Atomics only: no lock, no allocation.
#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/RecorderTap.h"

namespace qv::session {

class InputTap final : public RecorderTap {
 public:
  // The largest |sample| of each channel (measurement, reference) since the last call;
  // the peaks start again from 0.
  void takePeaks(float peaks[2]);
  int64_t frames() const { return frames_.load(std::memory_order_relaxed); }
  uint64_t blocks() const { return blocks_.load(std::memory_order_relaxed); }

  // RecorderTap
  void getData(const void* data, uint32_t byteSize) override;

 private:
  std::atomic<float> peaks_[2] = {0.0f, 0.0f};
  std::atomic<int64_t> frames_{0};
  std::atomic<uint64_t> blocks_{0};
};

}  // namespace qv::session
