#pragma once
// A recorder consumer for tests: keeps every block it is given, with the block sizes, behind
// a lock (tests read from another thread).
#include <mutex>
#include <vector>

#include "support/LogCapture.h"
#include "support/StubConsumer.h"
#include "support/TestRecorderDelegate.h"

namespace qv::test {

class TestConsumer final : public StubConsumer {
 public:
  void getData(const void* data, uint32_t byteSize) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* f = static_cast<const float*>(data);
    samples_.insert(samples_.end(), f, f + byteSize / 4);
    blockFrames_.push_back(byteSize / 8);
  }
  size_t blocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blockFrames_.size();
  }
  std::vector<uint32_t> blockFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blockFrames_;
  }
  // Output channel `c` of everything received.
  std::vector<float> channel(int c) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<float> out;
    for (size_t i = static_cast<size_t>(c); i < samples_.size(); i += 2) out.push_back(samples_[i]);
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    samples_.clear();
    blockFrames_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<float> samples_;
  std::vector<uint32_t> blockFrames_;
};

}  // namespace qv::test
