#pragma once
// A consumer that keeps what the recorder announces (channel count, rate, transport) and
// asks for nothing more; what it does with the blocks is its subclass's getData.
// Thread contract: announcements on any thread; the counts are atomics, and the transport
// is guarded by a lock that no delivery takes.
#include <atomic>
#include <mutex>

#include "audio/QVRecorderConsumer.h"

namespace qv {

class RecorderTap : public QVRecorderConsumer {
 public:
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override;
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override;
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) override;
  uint32_t inputChannelCount() const override { return channels_.load(); }
  uint64_t outputChannelCount() const override { return 0; }
  uint64_t samplingRate() const override { return rate_.load(); }
  uint32_t requiredMinimumDataSize() const override { return 0; }

 private:
  std::atomic<uint32_t> channels_{0};
  std::atomic<uint32_t> rate_{0};
  mutable std::mutex transportLock_;  // announcements only, never a delivery
  std::weak_ptr<QVAudioDataTransport> transport_;
};

}  // namespace qv
