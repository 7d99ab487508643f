#include "audio/RecorderTap.h"

namespace qv {

void RecorderTap::setInputChannelCountSamplingRateAudioDataTransport(
    uint32_t channelCount, uint32_t samplingRate, std::weak_ptr<QVAudioDataTransport> transport) {
  channels_.store(channelCount);
  rate_.store(samplingRate);
  setAudioDataTransport(std::move(transport));
}

std::weak_ptr<QVAudioDataTransport> RecorderTap::audioDataTransport() const {
  std::lock_guard<std::mutex> lock(transportLock_);
  return transport_;
}

void RecorderTap::setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) {
  std::lock_guard<std::mutex> lock(transportLock_);
  transport_ = std::move(transport);
}

}  // namespace qv
