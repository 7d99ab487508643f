#pragma once
// The delay finder as a recorder consumer: it keeps the audio of both channels in a
// lock-free ring and, on its own tick (every 0.1 s, on a queue of its own, or driven by the
// owner in simulated time), moves what arrived into the search and reports the result.
// Results go to a block, either at once on the ticking thread or on the main queue (the
// newest result wins there). Samples that are no number are taken as silence.
// Thread contract: intake and format announcements on the recorder's queue (ring producer);
// ticks on the finder's queue or the owner's thread (ring consumer, one tick at a time, no
// allocation except when the rate or the settings change); start, stop and settings from
// the controlling thread; main-queue results on the main queue.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "audio/RecorderTap.h"
#include "delay/DelayEstimate.h"
#include "delay/DelaySearch.h"
#include "platform/ByteRing.h"
#include "platform/DispatchQueue.h"
#include "platform/FftBackend.h"
#include "platform/GCDTimer.h"

namespace qv {

class DelayLocator final : public RecorderTap, public std::enable_shared_from_this<DelayLocator> {
 public:
  static constexpr double kTickSeconds = 0.1;
  static constexpr uint32_t kHighestRate = 192000;
  // The estimate (and its impulse) is valid during the call.
  using ResultBlock = std::function<void(const DelayEstimate&)>;
  enum class Delivery { TickThread, MainQueue };

  // With `ownTimer` false there is no timer: the owner calls processTick. A locator with
  // its own timer, or with main-queue delivery, must be owned by a shared_ptr. Its ring
  // holds 1.37 s of audio at `highestRate`: an owner whose audio never comes faster keeps
  // it that much smaller.
  explicit DelayLocator(bool ownTimer = true, uint32_t highestRate = kHighestRate);
  ~DelayLocator() override;
  DelayLocator(const DelayLocator&) = delete;
  DelayLocator& operator=(const DelayLocator&) = delete;

  // False (and nothing starts) unless a recorder announced two channels.
  bool start(ResultBlock block, Delivery delivery = Delivery::MainQueue);
  void stop();
  bool isRunning() const { return running_.load(std::memory_order_acquire); }

  // Taken over at the next tick; a change starts the search afresh.
  void setSettings(const DelaySearch::Settings& settings);
  DelaySearch::Settings settings() const;
  // From the next tick the search starts afresh with the audio that arrives from now on:
  // what it held, and what waits in the ring, belong to another moment (before a pause, or
  // from another device). Positions go on counting the frames received.
  void restart();

  // One tick: the audio that arrived goes into the search, which runs once. False, with no
  // result, when no audio arrived since the last tick or no rate is known yet.
  bool processTick();
  // The latest tick's estimate; on the ticking thread, between ticks.
  const DelayEstimate& lastEstimate() const { return last_; }
  // Audio frames taken in by the recorder so far (the count estimates' positions use).
  int64_t framesReceived() const { return received_.load(std::memory_order_acquire); }

  // RecorderTap; a new rate sets the search up afresh on the next tick, on its thread.
  void getData(const void* data, uint32_t byteSize) override;

 private:
  struct Slot {
    DelayEstimate estimate;
    fft::AlignedFloats impulse;  // from the first start with main-queue delivery
  };
  void publish(const DelayEstimate& estimate);
  void deliverOnMainQueue();

  DelaySearch search_;
  DelayEstimate last_;
  ByteRing ring_;  // interleaved (measurement, reference) frames
  std::atomic<int64_t> received_{0};

  mutable std::mutex settingsLock_;
  DelaySearch::Settings settings_;   // under settingsLock_
  uint64_t settingsGeneration_ = 1;  // under settingsLock_
  uint64_t appliedGeneration_ = 0;   // tick side
  int64_t discardBefore_ = 0;        // under settingsLock_: frames received before a restart
  int64_t consumed_ = 0;             // tick side: frames taken from the ring

  bool ownTimer_;
  std::shared_ptr<dispatch::Queue> queue_;
  std::unique_ptr<GCDTimer> timer_;
  std::atomic<bool> running_{false};
  std::atomic<bool> inTick_{false};
  ResultBlock block_;
  Delivery delivery_ = Delivery::MainQueue;

  // Main-queue results cross through three slots: the tick fills its back slot and swaps it
  // into the middle; the main queue swaps the middle out. Neither waits.
  static constexpr uint32_t kFresh = 4;
  std::array<Slot, 3> slots_;
  uint32_t back_ = 0;
  std::atomic<uint32_t> middle_{1};
  uint32_t front_ = 2;
  std::atomic<bool> deliveryPending_{false};
};

}  // namespace qv
