#pragma once
// A repeating or one-shot timer that runs a block on a dispatch queue with a leeway.
// Thread contract: schedule and invalidate may be called from any thread (they take the
// timer's lock); the block runs on the timer's queue. Every start makes a new timer: a
// timer is scheduled at most once while valid.
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace qv {

// Raised by scheduling a timer that is already valid.
class GCDTimerException : public std::runtime_error {
 public:
  GCDTimerException(std::string reason, std::map<std::string, std::string> userInfo)
      : std::runtime_error(reason), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const std::map<std::string, std::string>& userInfo() const { return userInfo_; }

 private:
  std::string name_ = "GCDTimerException";
  std::string reason_;
  std::map<std::string, std::string> userInfo_;
};

class GCDTimer {
 public:
  static constexpr uint64_t kDefaultLeeway = 100'000'000;  // 0.1 s

  GCDTimer(std::shared_ptr<dispatch::Queue> queue, uint64_t leeway, std::string name);
  ~GCDTimer();  // invalidates; a never-scheduled timer goes away quietly
  GCDTimer(const GCDTimer&) = delete;
  GCDTimer& operator=(const GCDTimer&) = delete;

  static std::unique_ptr<GCDTimer> timerOnQueue(std::shared_ptr<dispatch::Queue> queue,
                                                uint64_t leeway, std::string name);
  static std::unique_ptr<GCDTimer> timerOnQueue(std::shared_ptr<dispatch::Queue> queue,
                                                std::string name);
  static std::unique_ptr<GCDTimer> timerOnQueue(std::shared_ptr<dispatch::Queue> queue);
  static std::unique_ptr<GCDTimer> timerOnMainQueue(uint64_t leeway, std::string name);
  static std::unique_ptr<GCDTimer> timerOnMainQueue(std::string name);
  static std::unique_ptr<GCDTimer> timerOnMainQueue();

  // The clocks the start is measured on, for the next scheduleBlock; nullptr for the
  // system's. A timer on an injected clock looks at it at least every 0.25 s, so a test
  // can step it and see the timer fire.
  void setClocks(std::shared_ptr<Clock> wall, std::shared_ptr<Clock> monotonic);

  // Throws GCDTimerException when the timer is valid already. The start is `interval`
  // after now on the wall clock when the leeway is 1 s or more (a long timer keeps to
  // the time of day across a suspend), else on the monotonic clock.
  void scheduleBlock(dispatch::Block block, double interval, bool repeat);
  void scheduleBlock(dispatch::Block block, double interval) {
    scheduleBlock(std::move(block), interval, false);
  }
  void invalidate();

  bool isValid() const;
  const std::string& name() const;
  uint64_t leeway() const;
  // Which clock the start was measured on (wall for a leeway of 1 s or more).
  bool usesWallClock() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace qv
