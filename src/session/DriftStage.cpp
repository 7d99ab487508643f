#include "session/DriftStage.h"

#include "audio/QVRecorderConsumer.h"
#include "platform/Assert.h"

namespace qv::session {

DriftStage::DriftStage() : out_(2 * static_cast<size_t>(kMaxBlockFrames)) {}

void DriftStage::schedule(double ppm, int64_t fromFrame) {
  // The resampler's taps are made here, on the scheduling thread, not by process.
  if (ppm != 0.0) DriftResampler::taps();
  std::lock_guard<std::mutex> lock(lock_);
  pending_ = {true, ppm, fromFrame};
  scheduled_.store(ppm, std::memory_order_relaxed);
}

uint32_t DriftStage::process(const float* frames, uint32_t count, const float** out) {
  QV_ASSERT(count <= kMaxBlockFrames);
  {
    std::unique_lock<std::mutex> lock(lock_, std::try_to_lock);
    if (lock.owns_lock() && pending_.set && resampler_.framesIn() >= pending_.from) {
      resampler_.setDriftPpm(pending_.ppm);
      pending_.set = false;
    }
  }
  *out = out_.data();
  return resampler_.process(frames, count, out_.data(), kMaxBlockFrames);
}

}  // namespace qv::session
