#include "delay/QVDelayFinder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

namespace qv {
namespace {

constexpr int32_t kRingBytes = QVDelayFinder::kFftSize * 8 + 16384;

}  // namespace

QVDelayFinder::QVDelayFinder(int32_t /*fftSize*/, uint32_t deviceIndex,
                             std::shared_ptr<Clock> clock, bool ownTimer)
    : _deviceIndex(deviceIndex),
      _inputFFT(fft::allocateFloats(kFftSize + 2)),
      _outputFFT(fft::allocateFloats(kFftSize + 2)),
      _window(fft::allocateFloats(kFftSize)),
      _lCircularBuffer(kRingBytes),
      _rCircularBuffer(kRingBytes),
      clock_(clock ? std::move(clock) : Clock::system()),
      ownTimer_(ownTimer) {
  _finder.setUp(_fftSize, 0);
  for (auto& slot : slots_) slot.vertices = fft::allocateFloats(kFftSize);
  // Half a ring of silence up front, so that the first ticks already see a whole window.
  for (ByteRing* ring : {&_lCircularBuffer, &_rCircularBuffer}) {
    if (ring->valid()) ring->produce(ring->length / 2);
  }
  if (ownTimer_) _processQueue = dispatch::makeSerialQueue("delaylocator.queue");
}

QVDelayFinder::~QVDelayFinder() {
  if (_timer) _timer->invalidate();
}

double QVDelayFinder::tickIntervalForProcessorCount(unsigned processors) {
  return processors >= 5 ? 0.05 : 0.1;
}

void QVDelayFinder::startWithResultBlockErrorBlock(ResultBlock resultBlock,
                                                   const ErrorBlock& errorBlock) {
  QV_ASSERT(_samplingRate.load() != 0 && _inputChannelCount.load() != 0 && _fftSize != 0);
  if (_inputChannelCount.load() != 2) {
    const Error error{
        kErrorDomain, kErrorWrongPreconditions,
        std::string("Wrong preconditions to start delay finder: ") + "channels not equal 2"};
    stop();
    if (errorBlock) errorBlock(error);
    return;
  }
  resultBlock_ = std::move(resultBlock);
  _isRunning.store(true, std::memory_order_release);
  if (_timer) _timer->invalidate();
  if (!ownTimer_) return;

  std::weak_ptr<QVDelayFinder> weak = weak_from_this();
  QV_ASSERT_TEXT(!weak.expired(), "a finder with its own timer is owned by a shared_ptr");
  _timer = GCDTimer::timerOnQueue(_processQueue, kTimerLeeway, "delaylocator.timer");
  _timer->scheduleBlock(
      [weak] {
        if (auto self = weak.lock()) self->processTick();
      },
      tickIntervalForProcessorCount(std::thread::hardware_concurrency()), true);
}

void QVDelayFinder::stop() {
  if (_timer) _timer->invalidate();
  _isRunning.store(false, std::memory_order_release);
}

void QVDelayFinder::setInputChannelCountSamplingRateAudioDataTransport(
    uint32_t channelCount, uint32_t samplingRate, std::weak_ptr<QVAudioDataTransport> transport) {
  _inputChannelCount.store(channelCount);
  // The averages are rebuilt for a new rate by the next tick, on the ticking thread, so
  // that an announcement never pulls them away under a running tick.
  _samplingRate.store(samplingRate);
  setAudioDataTransport(std::move(transport));
}

std::weak_ptr<QVAudioDataTransport> QVDelayFinder::audioDataTransport() const {
  std::lock_guard<std::mutex> guard(_transportLock);
  return _audioDataSource;
}

void QVDelayFinder::setAudioDataTransport(std::weak_ptr<QVAudioDataTransport> transport) {
  std::lock_guard<std::mutex> guard(_transportLock);
  _audioDataSource = std::move(transport);
}

void QVDelayFinder::getData(const void* data, uint32_t byteSize) {
  if (!_lCircularBuffer.valid() || !_rCircularBuffer.valid()) return;
  const int64_t perChannel = byteSize / 2;
  int64_t frames = byteSize / kBytesPerFrame;
  int32_t lFree = 0;
  int32_t rFree = 0;
  auto* lHead = static_cast<float*>(_lCircularBuffer.head(&lFree));
  auto* rHead = static_cast<float*>(_rCircularBuffer.head(&rFree));
  if (lFree < perChannel || rFree < perChannel) {
    log("AAAAA");
    frames = std::min<int64_t>(frames, std::min(lFree, rFree) / 4);
  }
  if (frames <= 0) return;
  const auto* in = static_cast<const float*>(data);
  for (int64_t f = 0; f < frames; ++f) {
    lHead[f] = in[2 * f];
    rHead[f] = in[2 * f + 1];
  }
  // The reference ring is the one ticks look at, so it is never ahead of the other.
  _lCircularBuffer.produce(static_cast<int32_t>(frames * 4));
  _rCircularBuffer.produce(static_cast<int32_t>(frames * 4));
}

bool QVDelayFinder::processTick() {
  QV_ASSERT_TEXT(!inTick_.exchange(true, std::memory_order_acq_rel), "ticks never overlap");
  struct Leave {
    std::atomic<bool>& flag;
    ~Leave() { flag.store(false, std::memory_order_release); }
  } leave{inTick_};

  const uint32_t rate = _samplingRate.load();
  QV_ASSERT(rate != 0);
  if (static_cast<int32_t>(rate) != _finder.samplingRate)
    _finder.setUp(_fftSize, static_cast<int32_t>(rate));
  if (!_lCircularBuffer.valid() || !_rCircularBuffer.valid()) return false;

  // A window reaching past the held bytes would read the part the recorder is writing.
  const int32_t windowBytes = _fftSize * 4;
  int32_t lHeld = 0;
  int32_t rHeld = 0;
  const auto* lTail = static_cast<const float*>(_lCircularBuffer.tail(&lHeld));
  const auto* rTail = static_cast<const float*>(_rCircularBuffer.tail(&rHeld));
  if (lHeld < windowBytes || rHeld < windowBytes) return false;

  // A ring's tail is only float-aligned. An aligned copy costs a small part of what the
  // unaligned plans lose, and the plan, hence the rounding, is the same at every position.
  const fft::RealPlan& plan = fft::RealPlan::get(_fftSize);
  const auto windowSize = static_cast<size_t>(windowBytes);
  std::memcpy(_window.get(), lTail, windowSize);
  plan.forward(_window.get(), _outputFFT.get());
  std::memcpy(_window.get(), rTail, windowSize);
  plan.forward(_window.get(), _inputFFT.get());

  // Consume in proportion to the elapsed time and to how full the rings are, so that the
  // fill settles at two thirds of the ring whatever the tick rate; at most a quarter of
  // what is held goes per tick. A first tick has no elapsed time.
  const double now = clock_->now();
  const double dt = _lastConsumeTime > 0.0 ? std::max(now - _lastConsumeTime, 0.0) : 0.0;
  _lastConsumeTime = now;
  const double fill = _rCircularBuffer.fill();
  const double length = _lCircularBuffer.length;
  const double samples = std::min(1.5 * fill / length * rate * dt, fill / 16.0);
  const int32_t bytes = (4 * static_cast<int32_t>(std::trunc(samples))) & ~7;
  if (bytes > 0) {
    _lCircularBuffer.consume(bytes);
    _rCircularBuffer.consume(bytes);
  }

  double coherenceSum = 0.0;
  if (!_finder.update(_inputFFT.get(), _outputFFT.get(), &coherenceSum)) return false;
  const int32_t peak = _finder.findPeak();

  ResultSlot& slot = slots_[back_];
  const float scale = 1.0f / static_cast<float>(_fftSize);
  const float* impulse = _finder.impulse.get();
  float* vertices = slot.vertices.get();
  for (int32_t m = 0; m < _fftSize; ++m) vertices[m] = impulse[m] * scale;
  slot.peakIndex = peak;
  slot.delay = _finder.delay;
  slot.coherence = static_cast<float>(coherenceSum / _finder.half);
  publish();
  return true;
}

void QVDelayFinder::publish() {
  lastSlot_ = static_cast<int32_t>(back_);
  back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & ~kFresh;
  if (!isRunning()) return;
  std::weak_ptr<QVDelayFinder> weak = weak_from_this();
  if (weak.expired()) return;
  // One delivery in flight is enough: it takes whatever is newest when it runs.
  if (deliveryPending_.exchange(true, std::memory_order_acq_rel)) return;
  dispatch::mainQueue().async([weak] {
    if (auto self = weak.lock()) self->deliverOnMainQueue();
  });
}

void QVDelayFinder::deliverOnMainQueue() {
  deliveryPending_.store(false, std::memory_order_release);
  if (!(middle_.load(std::memory_order_acquire) & kFresh)) return;
  front_ = middle_.exchange(front_, std::memory_order_acq_rel) & ~kFresh;
  if (!isRunning() || !resultBlock_) return;
  const ResultSlot& slot = slots_[front_];
  resultBlock_(slot.vertices.get(), _fftSize, slot.delay, slot.coherence);
}

QVDelayFinder::Result QVDelayFinder::lastResult() const {
  Result result;
  result.points = _fftSize;
  if (lastSlot_ < 0) return result;
  const ResultSlot& slot = slots_[static_cast<size_t>(lastSlot_)];
  result.impulse = slot.vertices.get();
  result.peakIndex = slot.peakIndex;
  result.delay = slot.delay;
  result.meanCoherence = slot.coherence;
  return result;
}

}  // namespace qv
