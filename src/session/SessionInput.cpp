#include "session/SessionInput.h"

#include "delay/DelayLocator.h"
#include "engine/TFDataSource.h"
#include "session/InputTap.h"

namespace qv::session {

SessionInput::SessionInput(std::shared_ptr<TFDataSource> source, std::shared_ptr<InputTap> tap)
    : source_(std::move(source)), tap_(std::move(tap)) {}

void SessionInput::attachFinder(std::shared_ptr<DelayLocator> finder) {
  finder_ = std::move(finder);
  if (!finder_) return;
  finder_->setInputChannelCountSamplingRateAudioDataTransport(
      inputChannelCount(), static_cast<uint32_t>(samplingRate()), audioDataTransport());
  // The finder's next frame is the display chain's next.
  finderOffset_.store(delivered_ - finder_->framesReceived(), std::memory_order_release);
}

void SessionInput::detachFinder() { finder_.reset(); }

void SessionInput::setInputChannelCountSamplingRateAudioDataTransport(
    uint32_t channelCount, uint32_t samplingRate, std::weak_ptr<QVAudioDataTransport> transport) {
  RecorderTap::setInputChannelCountSamplingRateAudioDataTransport(channelCount, samplingRate,
                                                                  transport);
  source_->setInputChannelCountSamplingRateAudioDataTransport(channelCount, samplingRate,
                                                              transport);
  tap_->setInputChannelCountSamplingRateAudioDataTransport(channelCount, samplingRate, transport);
  if (finder_)
    finder_->setInputChannelCountSamplingRateAudioDataTransport(channelCount, samplingRate,
                                                                transport);
}

void SessionInput::getData(const void* data, uint32_t byteSize) {
  const float* frames = nullptr;
  const uint32_t count =
      stage_.process(static_cast<const float*>(data), byteSize / kBytesPerFrame, &frames);
  if (count == 0) return;
  const uint32_t bytes = count * kBytesPerFrame;
  source_->getData(frames, bytes);
  tap_->getData(frames, bytes);
  if (finder_) finder_->getData(frames, bytes);
  delivered_ += count;
}

}  // namespace qv::session
