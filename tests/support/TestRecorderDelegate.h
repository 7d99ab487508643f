#pragma once
// Records a recorder's delegate calls as (started?, channel), from any thread.
#include <mutex>
#include <utility>
#include <vector>

#include "audio/QVRecorderDelegate.h"

namespace qv::test {

class TestRecorderDelegate final : public QVRecorderDelegate {
 public:
  using Call = std::pair<bool, uint32_t>;
  void recorderStartedWithChannel(QVRecorder&, uint32_t channel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.emplace_back(true, channel);
  }
  void recorderStoppedWithChannel(QVRecorder&, uint32_t channel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.emplace_back(false, channel);
  }
  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

}  // namespace qv::test
