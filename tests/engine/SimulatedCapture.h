#pragma once
// Drives a recorder consumer in simulated time: a block every 125 ms (as the capture
// callback delivers them) and a display tick at a chosen rate, on one ManualClock.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "audio/QVRecorderConsumer.h"
#include "platform/Clock.h"
#include "support/TestSignals.h"

namespace qv::test {

class SimulatedCapture {
 public:
  SimulatedCapture(ManualClock& clock, QVRecorderConsumer& consumer, uint32_t rate)
      : clock_(clock), consumer_(consumer), rate_(rate), start_(clock.now()) {}

  // Interleaved frames to deliver, in order; silence after the end.
  void setSignal(std::vector<float> interleaved) { signal_ = std::move(interleaved); }

  // Runs for `seconds` of simulated time, calling `tick` every 1/tickRate s.
  void run(double seconds, double tickRate, const std::function<void()>& tick) {
    const double end = time_ + seconds;
    while (true) {
      const double next = std::min(nextBlock_, nextTick_);
      if (next > end) break;
      time_ = next;
      clock_.set(start_ + time_);
      if (nextBlock_ <= nextTick_) {
        deliverUntil(time_ + kBlockSeconds);
        nextBlock_ += kBlockSeconds;
      } else {
        tick();
        ++ticks_;
        nextTick_ = ticks_ / tickRate;
      }
    }
  }

  static constexpr double kBlockSeconds = 0.125;

 private:
  void deliverUntil(double t) {
    const auto upTo = static_cast<uint64_t>(std::llround(t * rate_));
    const uint64_t frames = upTo - delivered_;
    block_.assign(2 * frames, 0.0f);
    for (uint64_t i = 0; i < frames; ++i) {
      const uint64_t at = 2 * (delivered_ + i);
      if (at + 1 < signal_.size()) {
        block_[2 * i] = signal_[at];
        block_[2 * i + 1] = signal_[at + 1];
      }
    }
    consumer_.getData(block_.data(), static_cast<uint32_t>(frames * 8));
    delivered_ = upTo;
  }

  ManualClock& clock_;
  QVRecorderConsumer& consumer_;
  uint32_t rate_;
  double start_;
  double time_ = 0.0;
  double nextBlock_ = 0.0;
  double nextTick_ = 0.0;
  uint64_t ticks_ = 0;
  uint64_t delivered_ = 0;
  std::vector<float> signal_;
  std::vector<float> block_;
};

}  // namespace qv::test
