#pragma once
// The session's one consumer of a recorder: every block goes through the DriftStage and on
// to the display chain (the data source and the input tap) and, while one is attached, to
// the delay finder. The finder counts its frames from its first; finderOffset() turns its
// positions into the data source's (frames received), counted at the attachment.
// Thread contract: blocks, format announcements, attachFinder and detachFinder on the
// recorder's queue (the session runs the last two there through performSafeBlock);
// finderOffset and the stage's schedule on any thread. No lock on a delivery.
#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/RecorderTap.h"
#include "session/DriftStage.h"

namespace qv {
class DelayLocator;
class TFDataSource;
}  // namespace qv

namespace qv::session {

class InputTap;

class SessionInput final : public RecorderTap {
 public:
  SessionInput(std::shared_ptr<TFDataSource> source, std::shared_ptr<InputTap> tap);

  DriftStage& stage() { return stage_; }
  // Recorder's queue: the finder hears the format and, from the next block on, the stream.
  void attachFinder(std::shared_ptr<DelayLocator> finder);
  void detachFinder();
  int64_t finderOffset() const { return finderOffset_.load(std::memory_order_acquire); }

  // RecorderTap: the announcement goes on to every stage.
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override;
  void getData(const void* data, uint32_t byteSize) override;

 private:
  std::shared_ptr<TFDataSource> source_;
  std::shared_ptr<InputTap> tap_;
  DriftStage stage_;
  // Recorder's queue.
  std::shared_ptr<DelayLocator> finder_;
  int64_t delivered_ = 0;  // frames handed to the display chain
  std::atomic<int64_t> finderOffset_{0};
};

}  // namespace qv::session
