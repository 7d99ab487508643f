#pragma once
// A recorder consumer that keeps the format it is told of and drops the blocks: the base
// of the tests' consumers, which override getData. Announcements come from the thread that
// adds the consumer or starts the recorder, so they are kept under a lock.
#include <memory>
#include <mutex>

#include "audio/QVRecorderConsumer.h"

namespace qv::test {

class StubConsumer : public QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override {
    std::lock_guard<std::mutex> lock(formatMutex_);
    channels_ = channelCount;
    rate_ = samplingRate;
    transport_ = std::move(transport);
    ++announcements_;
  }
  void getData(const void*, uint32_t) override {}
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override {
    std::lock_guard<std::mutex> lock(formatMutex_);
    return transport_;
  }
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) override {
    std::lock_guard<std::mutex> lock(formatMutex_);
    transport_ = std::move(transport);
  }
  uint32_t inputChannelCount() const override {
    std::lock_guard<std::mutex> lock(formatMutex_);
    return channels_;
  }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override {
    std::lock_guard<std::mutex> lock(formatMutex_);
    return rate_;
  }
  uint32_t requiredMinimumDataSize() const override { return 0; }
  int announcements() const {
    std::lock_guard<std::mutex> lock(formatMutex_);
    return announcements_;
  }

 private:
  mutable std::mutex formatMutex_;
  uint32_t channels_ = 0;
  uint32_t rate_ = 0;
  int announcements_ = 0;
  std::weak_ptr<QVAudioDataTransport> transport_;
};

}  // namespace qv::test
