#pragma once
// Measures how far the measurement channel lags the reference from the impulse response
// of their averaged transfer function, and reports it with the impulse and the coherence.
// Thread contract: intake and format announcements on the recorder's queue (ring
// producer); ticks on the finder's own serial queue, or on the caller's thread through
// processTick (ring consumer, one tick at a time); start, stop and result blocks on the
// main queue. Rings and flags are lock-free.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/QVRecorderConsumer.h"
#include "delay/DelayFinder.h"
#include "platform/ByteRing.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/FftBackend.h"
#include "platform/GCDTimer.h"

namespace qv {

class QVDelayFinder final : public QVRecorderConsumer,
                            public std::enable_shared_from_this<QVDelayFinder> {
 public:
  struct Error {
    std::string domain;
    int64_t code = 0;
    std::string localizedDescription;
  };
  // The impulse pointer is valid only during the call; `count` is the FFT length.
  using ResultBlock =
      std::function<void(const float* impulse, int32_t count, float delay, float coherence)>;
  using ErrorBlock = std::function<void(const Error& error)>;

  // The latest tick's outcome, for callers that run ticks themselves. `impulse` (already
  // scaled by 1/points) stays valid until the next tick.
  struct Result {
    const float* impulse = nullptr;
    int32_t points = 0;
    int32_t peakIndex = 0;
    float delay = 0.0f;          // seconds, positive when the measurement lags
    float meanCoherence = 0.0f;  // 0 … 1
  };

  static constexpr int32_t kFftSize = 65536;
  static constexpr const char* kErrorDomain = "com.quorvex.error";
  static constexpr int64_t kErrorWrongPreconditions = 1001;
  static constexpr uint64_t kTimerLeeway = 1'000'000'000;  // ns

  // The size is not a choice: the finder always works on 65536 points. The device index
  // is kept for the caller. With `ownTimer` false, start makes no timer and the owner
  // drives the finder with processTick (the command-line tool runs it in simulated time).
  // Ticks hold the finder weakly, so a finder with its own timer must be owned by a
  // shared_ptr.
  QVDelayFinder(int32_t fftSize, uint32_t deviceIndex,
                std::shared_ptr<Clock> clock = Clock::system(), bool ownTimer = true);
  ~QVDelayFinder() override;
  QVDelayFinder(const QVDelayFinder&) = delete;
  QVDelayFinder& operator=(const QVDelayFinder&) = delete;

  // Requires a format announcement first. With a channel count other than 2 it only
  // reports error 1001 through errorBlock. Either block may be empty.
  void startWithResultBlockErrorBlock(ResultBlock resultBlock, const ErrorBlock& errorBlock);
  // Stops the ticks; results still queued for the main queue are dropped.
  void stop();
  bool isRunning() const { return _isRunning.load(std::memory_order_acquire); }

  // One tick: transforms the newest window of both channels, updates the averages and
  // the impulse, and posts the result to the main queue while running. Returns false,
  // with no result, when the rings hold less than a whole window (nothing changes then)
  // or the window holds a non-finite sample (it is consumed, the averages are kept).
  bool processTick();
  Result lastResult() const;

  static double tickIntervalForProcessorCount(unsigned processors);

  // QVRecorderConsumer
  void setInputChannelCountSamplingRateAudioDataTransport(
      uint32_t channelCount, uint32_t samplingRate,
      std::weak_ptr<QVAudioDataTransport> transport) override;
  void getData(const void* data, uint32_t byteSize) override;
  std::weak_ptr<QVAudioDataTransport> audioDataTransport() const override;
  void setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) override;
  uint32_t inputChannelCount() const override { return _inputChannelCount.load(); }
  uint64_t outputChannelCount() const override { return _outputChannelCount; }
  uint64_t samplingRate() const override { return _samplingRate.load(); }
  uint32_t requiredMinimumDataSize() const override { return _requiredMinimumDataSize; }

  uint32_t deviceIndex() const { return _deviceIndex; }
  // For inspection between ticks, on the ticking thread.
  const DelayFinder& finder() const { return _finder; }
  const ByteRing& lCircularBuffer() const { return _lCircularBuffer; }
  const ByteRing& rCircularBuffer() const { return _rCircularBuffer; }
  // Null until a successful start with its own timer.
  const GCDTimer* timer() const { return _timer.get(); }

 private:
  struct ResultSlot {
    fft::AlignedFloats vertices;
    int32_t peakIndex = 0;
    float delay = 0.0f;
    float coherence = 0.0f;
  };

  void publish();
  void deliverOnMainQueue();

  DelayFinder _finder;
  uint32_t _deviceIndex;
  std::unique_ptr<GCDTimer> _timer;
  std::shared_ptr<dispatch::Queue> _processQueue;
  int32_t _fftSize = kFftSize;
  fft::AlignedFloats _inputFFT;   // reference spectrum, N/2 + 1 interleaved bins
  fft::AlignedFloats _outputFFT;  // measurement spectrum, the same
  fft::AlignedFloats _window;     // aligned copy of a ring window
  ByteRing _lCircularBuffer;      // output channel 0, measurement
  ByteRing _rCircularBuffer;      // output channel 1, reference
  double _lastConsumeTime = 0.0;
  std::atomic<bool> _isRunning{false};
  std::atomic<uint32_t> _inputChannelCount{0};
  uint32_t _requiredMinimumDataSize = 0;
  uint64_t _outputChannelCount = 0;
  std::atomic<uint32_t> _samplingRate{0};
  mutable std::mutex _transportLock;
  std::weak_ptr<QVAudioDataTransport> _audioDataSource;

  std::shared_ptr<Clock> clock_;
  bool ownTimer_;
  std::atomic<bool> inTick_{false};
  ResultBlock resultBlock_;  // main queue only

  // Results cross to the main queue through three slots: the tick fills its back slot
  // and swaps it into the middle; the main queue swaps the middle out to read it. So
  // neither side waits, and the main queue always gets the newest result.
  static constexpr uint32_t kFresh = 4;
  std::array<ResultSlot, 3> slots_;
  uint32_t back_ = 0;  // tick side
  std::atomic<uint32_t> middle_{1};
  uint32_t front_ = 2;     // main queue side
  int32_t lastSlot_ = -1;  // tick side: the slot of the latest result
  std::atomic<bool> deliveryPending_{false};
};

}  // namespace qv
