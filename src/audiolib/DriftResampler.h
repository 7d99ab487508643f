#pragma once
// Takes a drift between two clocks out of a two-channel stream: the measurement channel is
// read between its samples at a rate 1 + ppm·1e−6 of the reference's (a Kaiser-windowed
// sinc of 96 taps, about −90 dB of error below 0.45 of the rate), and each frame pairs it
// with the next reference sample. The reference passes unchanged, so the delay between
// the channels stops growing and stays what it was. Since the channels then run at slightly
// different rates, one of them waits in a queue that grows by ppm·1e−6 of a frame per frame
// (0.36 s an hour at 100 ppm); when that queue is full (by default 2^19 frames, 2.7 s at
// 192 kHz) the frames waiting longest are dropped and the delay slips by as many (slips()
// counts them). The queue's rings are taken on only when a drift is first set (or more frames
// wait than a short ring holds): until then a short ring serves, and the long ones stay
// unwritten, so a resampler whose clocks never drift costs little memory.
// Thread contract: process runs on one thread (the delivery of audio); setDriftPpm may come
// from any thread and is taken at the next process. process allocates nothing.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class DriftResampler {
 public:
  static constexpr int kHalfWidth = 48;
  static constexpr int kPhases = 1024;
  static constexpr int64_t kQueueFrames = int64_t{1} << 19;
  // The short rings: a block of the largest size the recorders deliver, waiting whole, fits.
  static constexpr int64_t kShortFrames = int64_t{1} << 15;

  // `queueFrames` (rounded up to a power of two): what the waiting channel may hold.
  explicit DriftResampler(int64_t queueFrames = kQueueFrames);

  // The measurement's clock runs `ppm` parts per million fast: its delay behind the
  // reference grows by ppm·1e−6 of a sample per sample. Until a drift other than 0 is first
  // set, frames pass straight through (no latency, the same frame counts), the history the
  // interpolation will need kept meanwhile; from then on they come through the taps, after
  // their latency (the first frames after the change wait for it once), exact again at 0.
  // The first drift other than 0 (in any resampler) makes the taps, once; a process that
  // runs meanwhile waits for nothing and still passes frames straight through.
  void setDriftPpm(double ppm);
  double driftPpm() const { return ppm_.load(std::memory_order_relaxed); }
  // Both ppm values taken one after the other, as one.
  static double compose(double ppm, double morePpm) {
    return ((1.0 + ppm * 1e-6) * (1.0 + morePpm * 1e-6) - 1.0) * 1e6;
  }

  // Takes `frames` interleaved (measurement, reference) frames and writes up to `capacity`
  // frames out; returns how many. Frames that are ready but do not fit wait for the next
  // call (an empty call only empties them).
  uint32_t process(const float* in, uint32_t frames, float* out, uint32_t capacity);

  // The interpolation's taps, kPhases + 1 rows of 2·kHalfWidth: row p for a read position
  // p/kPhases past a sample, tap i at i − (kHalfWidth − 1). Made once, by the first caller
  // (the first drift set), shared by every resampler, never changed.
  static const std::vector<float>& taps();

  // Frames taken in and given out so far, and frames dropped from either channel.
  int64_t framesIn() const { return received_; }
  int64_t framesOut() const { return written_; }
  int64_t slips() const { return slips_; }
  // Reference frames that entered but have not come out yet: the latency and the queue.
  int64_t waiting() const { return received_ - referenceIndex_; }
  // Where in the measurement input the next frame is read (input samples).
  double readPosition() const { return anchor_ + static_cast<double>(sinceAnchor_) * step_; }

 private:
  // `table`: the taps, read once a call rather than once a frame.
  float interpolate(double position, const float* table) const;
  // From the short rings to the long ones, with what is still to be read.
  void lengthen();

  std::atomic<double> ppm_{0.0};
  int64_t longSize_;
  // 2·longSize_: the measurement's ring, then the reference's. Never zeroed: no slot is read
  // before it is written (frames are read only between received_ − size_ and received_, and
  // lengthen copies the ones still to be read).
  std::unique_ptr<float[]> long_;
  std::vector<float> short_;  // 2·kShortFrames, the same; empty when the queue is as short
  // The rings in use, by input index: size_ frames each.
  float* measurement_;
  float* reference_;
  int64_t size_;
  int64_t mask_;
  std::atomic<const float*> table_{nullptr};  // the taps, once a drift was set
  int64_t received_ = 0;
  int64_t referenceIndex_ = 0;  // the next reference sample to go out
  // The read position is anchor_ + sinceAnchor_·step_: counted, not summed, so that hours of
  // steps lose nothing to rounding.
  double anchor_ = 0.0;
  int64_t sinceAnchor_ = 0;
  double step_ = 1.0;
  int64_t written_ = 0;
  int64_t slips_ = 0;
  bool engaged_ = false;  // a drift was set: frames come through the taps
};

}  // namespace qv
