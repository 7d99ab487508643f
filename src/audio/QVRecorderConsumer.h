#pragma once
// The consumer side of recorded audio. Blocks are interleaved two-channel 32-bit float
// frames (output channel 0, then 1; 8 bytes a frame), at most 15360 frames a block.
// Thread contract: every call comes on the producer's serial queue ("record.queue");
// getData copies into the consumer's own lock-free ring and returns without waiting.
#include <cstdint>
#include <memory>

#include "audio/QVAudioDataTransport.h"

namespace qv {

constexpr uint32_t kMaxBlockFrames = 15360;
constexpr uint32_t kBytesPerFrame = 8;
constexpr uint32_t kMaxBlockBytes = kMaxBlockFrames * kBytesPerFrame;

class QVRecorderConsumer {
 public:
  virtual ~QVRecorderConsumer() = default;

  // The producer's format announcement; the consumer stores rate and transport.
  virtual void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) = 0;
  // One block; `data` is valid only during the call.
  virtual void getData(const void* data, uint32_t byteSize) = 0;

  virtual std::weak_ptr<QVAudioDataTransport> audioDataTransport() const = 0;
  virtual void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) = 0;
  virtual uint32_t inputChannelCount() const = 0;
  virtual uint64_t outputChannelCount() const = 0;
  virtual uint64_t samplingRate() const = 0;
  virtual uint32_t requiredMinimumDataSize() const = 0;
};

}  // namespace qv
