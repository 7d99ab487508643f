#pragma once
// The stream as the consumers take it: the measurement read at the reference's clock
// (DriftResampler) once a drift between the two clocks is known, so that two devices
// measure like one. A drift is scheduled from an input frame on; two stages fed the same
// blocks (the display's and the finder's, each on its own thread, in a file analysis) then
// change at the same block, and their outputs stay frame for frame alike.
// Thread contract: process on one thread (the one that feeds); schedule on any thread, taken
// at the first block that starts at or after its frame (a schedule being written while a
// block starts is taken at the next one). process allocates nothing.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audiolib/DriftResampler.h"

namespace qv::session {

class DriftStage {
 public:
  DriftStage();

  // Interleaved (measurement, reference) frames in, at most kMaxBlockFrames; returns how
  // many frames come out (at most kMaxBlockFrames; any more wait for the next call) and
  // points `out` at them, valid until the next call.
  uint32_t process(const float* frames, uint32_t count, const float** out);

  // The drift to take out (ppm, see DriftResampler::setDriftPpm) from input frame `fromFrame`
  // on; 0: at the next block.
  void schedule(double ppm, int64_t fromFrame = 0);
  // The drift scheduled last (taken out now or from its frame on).
  double scheduledPpm() const { return scheduled_.load(std::memory_order_relaxed); }
  // Feeding thread.
  int64_t framesIn() const { return resampler_.framesIn(); }
  int64_t framesOut() const { return resampler_.framesOut(); }
  int64_t slips() const { return resampler_.slips(); }

 private:
  struct Pending {
    bool set = false;
    double ppm = 0.0;
    int64_t from = 0;
  };

  DriftResampler resampler_;
  std::vector<float> out_;
  std::mutex lock_;  // the schedule; never waited for by process
  Pending pending_;  // under lock_
  std::atomic<double> scheduled_{0.0};
};

}  // namespace qv::session
