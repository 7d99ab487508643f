#pragma once
// Injectable clocks: absolute seconds with sub-millisecond resolution. Engine code reads
// time only through a Clock, so that it can run in simulated time (tests, file analysis).
#include <atomic>
#include <memory>

namespace qv {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const = 0;
  // The process-wide monotonic clock.
  static std::shared_ptr<Clock> system();
};

// Monotonic seconds (CLOCK_MONOTONIC); thread-safe.
class MonotonicClock final : public Clock {
 public:
  double now() const override;
};

// Time that moves only when told to; thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(double start = 1000.0) : now_(start) {}
  double now() const override { return now_.load(std::memory_order_acquire); }
  void set(double seconds) { now_.store(seconds, std::memory_order_release); }
  void advance(double seconds) { set(now() + seconds); }

 private:
  std::atomic<double> now_;
};

}  // namespace qv
