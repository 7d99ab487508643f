#pragma once
// The finder's readings from its thread to the control thread, in the order they were
// made, so that the acceptance rule sees every one (it counts consecutive results) however
// late the control thread comes to them. Fixed capacity; a reading that finds it full is
// dropped and counted.
// Thread contract: push on one thread (the finder's ticks), pop on one other (the control
// thread); no lock, no allocation.
#include <array>
#include <atomic>
#include <cstdint>

#include "session/DelaySnapshot.h"

namespace qv::session {

class ReadingQueue {
 public:
  static constexpr uint64_t kCapacity = 64;

  bool push(const FinderReading& reading) {
    const uint64_t n = pushed_.load(std::memory_order_relaxed);
    if (n - popped_.load(std::memory_order_acquire) >= kCapacity) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    ring_[n % kCapacity] = reading;
    pushed_.store(n + 1, std::memory_order_release);
    return true;
  }

  bool pop(FinderReading* reading) {
    const uint64_t n = popped_.load(std::memory_order_relaxed);
    if (n == pushed_.load(std::memory_order_acquire)) return false;
    *reading = ring_[n % kCapacity];
    popped_.store(n + 1, std::memory_order_release);
    return true;
  }

  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  std::array<FinderReading, kCapacity> ring_{};
  std::atomic<uint64_t> pushed_{0};
  std::atomic<uint64_t> popped_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace qv::session
