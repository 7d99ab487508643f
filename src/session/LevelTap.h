#pragma once
// A consumer that keeps the recorded blocks for the sound level meter and the calibrator,
// which measure every sample (not the newest frame, as the spectra do): while open, each
// block is copied into a ring of its own that the display tick drains. Closed, a block
// costs one atomic load.
// Thread contract: getData and the format announcement on the recorder's queue (or the
// thread feeding a file); open, close and drain on the display tick; the counts on any
// thread. The ring is lock-free, single producer and single consumer; nothing allocates
// after construction.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/RecorderTap.h"
#include "platform/ByteRing.h"

namespace qv::session {

class LevelTap final : public RecorderTap {
 public:
  // About 2.7 s of two-channel frames at 48 kHz: ticks that stall for that long lose audio.
  static constexpr int32_t kRingBytes = 1 << 20;

  LevelTap();

  // Tick: starts keeping blocks, from an empty ring.
  void open();
  // Tick: blocks are no longer kept.
  void close();
  bool isOpen() const { return open_.load(std::memory_order_relaxed); }
  // Tick: hands every kept frame to `consume` (interleaved measurement, reference) in
  // contiguous runs, and empties the ring.
  template <typename Consume>
  void drain(Consume&& consume) {
    for (;;) {
      int32_t bytes = 0;
      const auto* data = static_cast<const float*>(ring_.tail(&bytes));
      // Whole frames only: the producer always writes whole blocks.
      bytes -= bytes % static_cast<int32_t>(kBytesPerFrame);
      if (bytes <= 0 || data == nullptr) return;
      consume(data, static_cast<size_t>(bytes) / kBytesPerFrame);
      ring_.consume(bytes);
    }
  }
  // Blocks dropped because the ring was full.
  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

  // RecorderTap
  void getData(const void* data, uint32_t byteSize) override;

 private:
  ByteRing ring_;
  std::atomic<bool> open_{false};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace qv::session
