#include "delay/DelayLocator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/Vector.h"

namespace qv {
namespace {

// 2^18 frames at the highest rate the locator is made for (1.37 s at 192 kHz): over a
// dozen ticks of audio.
constexpr double kRingSeconds = (1 << 18) / static_cast<double>(DelayLocator::kHighestRate);
// Frames handed to the search at a time.
constexpr int32_t kDrainFrames = 16384;
constexpr uint64_t kTimerLeeway = 10'000'000;  // 10 ms

// A sample that is no number is taken as silence: the search averages its spectra, and a
// single one would spoil them for good.
QV_VECTOR_CLONES void copyFinite(const float* __restrict in, uint32_t count,
                                 float* __restrict out) {
  for (uint32_t i = 0; i < count; ++i)
    out[i] = std::fabs(in[i]) <= std::numeric_limits<float>::max() ? in[i] : 0.0f;
}

}  // namespace

DelayLocator::DelayLocator(bool ownTimer, uint32_t highestRate)
    : ring_(8 * static_cast<int32_t>(std::ceil(kRingSeconds * highestRate))), ownTimer_(ownTimer) {
  QV_ASSERT(highestRate > 0);
  if (ownTimer_) queue_ = dispatch::makeSerialQueue("delaylocator.queue");
}

DelayLocator::~DelayLocator() {
  if (timer_) timer_->invalidate();
}

bool DelayLocator::start(ResultBlock block, Delivery delivery) {
  if (inputChannelCount() != 2 || samplingRate() == 0) {
    log("Wrong preconditions to start delay finder: channels not equal 2");
    return false;
  }
  // Only main-queue results cross through the slots; a locator whose results stay on the
  // ticking thread never needs their impulses. Made once: a tick may be filling one.
  if (delivery == Delivery::MainQueue && !slots_[0].impulse) {
    for (auto& slot : slots_) slot.impulse = fft::allocateFloats(fft::kMaxSize);
  }
  block_ = std::move(block);
  delivery_ = delivery;
  running_.store(true, std::memory_order_release);
  if (!ownTimer_) return true;
  std::weak_ptr<DelayLocator> weak = weak_from_this();
  QV_ASSERT_TEXT(!weak.expired(), "a locator with its own timer is owned by a shared_ptr");
  if (timer_) timer_->invalidate();
  timer_ = GCDTimer::timerOnQueue(queue_, kTimerLeeway, "delaylocator.timer");
  timer_->scheduleBlock(
      [weak] {
        if (auto self = weak.lock()) self->processTick();
      },
      kTickSeconds, true);
  return true;
}

void DelayLocator::stop() {
  if (timer_) timer_->invalidate();
  running_.store(false, std::memory_order_release);
}

void DelayLocator::setSettings(const DelaySearch::Settings& settings) {
  std::lock_guard<std::mutex> lock(settingsLock_);
  if (settings == settings_) return;
  settings_ = settings;
  ++settingsGeneration_;
}

void DelayLocator::restart() {
  std::lock_guard<std::mutex> lock(settingsLock_);
  discardBefore_ = received_.load(std::memory_order_acquire);
  ++settingsGeneration_;
}

DelaySearch::Settings DelayLocator::settings() const {
  std::lock_guard<std::mutex> lock(settingsLock_);
  return settings_;
}

void DelayLocator::getData(const void* data, uint32_t byteSize) {
  if (!ring_.valid()) return;
  int32_t space = 0;
  void* head = ring_.head(&space);
  uint32_t bytes = byteSize & ~7u;  // whole frames, so the channels never change places
  if (bytes > static_cast<uint32_t>(space)) {
    log("AAAAA");
    bytes = static_cast<uint32_t>(space) & ~7u;
  }
  if (bytes == 0) return;
  copyFinite(static_cast<const float*>(data), bytes / 4, static_cast<float*>(head));
  ring_.produce(static_cast<int32_t>(bytes));
  received_.fetch_add(bytes / 8, std::memory_order_release);
}

bool DelayLocator::processTick() {
  QV_ASSERT_TEXT(!inTick_.exchange(true, std::memory_order_acq_rel), "ticks never overlap");
  struct Leave {
    std::atomic<bool>& flag;
    ~Leave() { flag.store(false, std::memory_order_release); }
  } leave{inTick_};

  const auto rate = static_cast<uint32_t>(samplingRate());
  if (rate == 0 || !ring_.valid()) return false;
  {
    // Settings being written right now are taken at the next tick.
    std::unique_lock<std::mutex> lock(settingsLock_, std::try_to_lock);
    if (lock.owns_lock() && (settingsGeneration_ != appliedGeneration_ || rate != search_.rate())) {
      // Positions go on counting the frames received, so that they stay comparable with
      // those of the other consumers; frames from before a restart are passed over.
      search_.setUp(rate, settings_, std::max(consumed_, discardBefore_));
      appliedGeneration_ = settingsGeneration_;
    }
  }
  if (search_.rate() == 0) return false;

  int32_t held = 0;
  const auto* frames = static_cast<const float*>(ring_.tail(&held));
  const int32_t count = held / 8;
  if (count == 0) return false;
  const auto skip =
      static_cast<int32_t>(std::clamp<int64_t>(search_.position() - consumed_, 0, count));
  for (int32_t done = skip; done < count; done += kDrainFrames)
    search_.push(frames + 2 * static_cast<size_t>(done),
                 static_cast<size_t>(std::min(kDrainFrames, count - done)));
  ring_.consume(count * 8);
  consumed_ += count;
  if (skip == count) return false;

  last_ = search_.search();
  if (isRunning() && block_) publish(last_);
  return true;
}

void DelayLocator::publish(const DelayEstimate& estimate) {
  if (delivery_ == Delivery::TickThread) {
    block_(estimate);
    return;
  }
  Slot& slot = slots_[back_];
  slot.estimate = estimate;
  std::memcpy(slot.impulse.get(), estimate.impulse,
              static_cast<size_t>(estimate.impulseCount) * sizeof(float));
  slot.estimate.impulse = slot.impulse.get();
  back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & ~kFresh;
  std::weak_ptr<DelayLocator> weak = weak_from_this();
  if (weak.expired()) return;
  // One delivery in flight is enough: it takes whatever is newest when it runs.
  if (deliveryPending_.exchange(true, std::memory_order_acq_rel)) return;
  dispatch::mainQueue().async([weak] {
    if (auto self = weak.lock()) self->deliverOnMainQueue();
  });
}

void DelayLocator::deliverOnMainQueue() {
  deliveryPending_.store(false, std::memory_order_release);
  if (!(middle_.load(std::memory_order_acquire) & kFresh)) return;
  front_ = middle_.exchange(front_, std::memory_order_acq_rel) & ~kFresh;
  if (!isRunning() || !block_) return;
  block_(slots_[front_].estimate);
}

}  // namespace qv
