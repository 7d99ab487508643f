#pragma once
// The peaks of the newest captured audio, in slices of a few milliseconds, so that a level
// reading covers audio up to the driver's last period and not only what was delivered.
// Thread contract: write() on the driver thread only (no locks, no allocation); read()
// from any thread; restart() while no write() runs (the driver is paused). Every shared
// value is an atomic, so a reading racing a write sees old or new peaks, never torn ones.
#include <atomic>
#include <cstdint>
#include <memory>

namespace qv {

class PeakHistory {
 public:
  // Keeps `seconds` of history of `channels` interleaved channels at `rate`.
  PeakHistory(uint32_t rate, int channels, double seconds);

  // Folds the frames into the history: channels 1, 3, 5… (counted from 1) into the left
  // peak, 2, 4, 6… into the right one.
  void write(const float* frames, uint32_t count);
  // Readings after this see only audio written from now on, which starts a new slice.
  void restart();
  // Peaks of the last `seconds` written (at most the history's length); 0 when nothing
  // was written since the last restart. A mono history gives the same peak twice.
  void read(double seconds, float* left, float* right) const;

 private:
  static constexpr uint32_t kSliceFrames = 64;  // 1.5 ms at 44.1 kHz
  struct Slice {
    std::atomic<float> left{0.0f};
    std::atomic<float> right{0.0f};
  };

  uint32_t rate_;
  int channels_;
  uint64_t slices_;
  std::unique_ptr<Slice[]> history_;
  std::atomic<uint64_t> written_{0};  // frames ever written
  std::atomic<uint64_t> start_{0};    // first frame that readings cover
  // The slice being filled; driver thread only.
  float left_ = 0.0f;
  float right_ = 0.0f;
};

}  // namespace qv
