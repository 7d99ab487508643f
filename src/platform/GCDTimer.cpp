#include "platform/GCDTimer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/ThreadName.h"

namespace qv {
namespace {

double secondsOn(bool wall) {
  using namespace std::chrono;
  if (wall) return duration<double>(system_clock::now().time_since_epoch()).count();
  return dispatch::steadySeconds();
}

// One firing source. The queue it fires on watches its deadline when it can; otherwise
// (an injected clock, or a queue that cannot) the timer thread does and posts each fire.
struct Source final : dispatch::Deadline {
  std::shared_ptr<dispatch::Queue> queue;
  dispatch::Block fire;
  double interval = 0;  // seconds; 0 for one-shot sources after they fired
  bool repeat = false;
  bool wall = false;
  // Injected; nullptr for the system's wall or monotonic clock.
  std::shared_ptr<Clock> clock;
  double deadline = 0;  // on the source's own clock
  double now() const { return clock ? clock->now() : secondsOn(wall); }
  // The wall clock may jump, and an injected clock moves when its owner says so.
  bool mayJump() const { return wall || clock != nullptr; }
  std::atomic<bool> cancelled{false};
  // A fire that has not run yet absorbs the next ones, as a busy queue would merge them.
  std::atomic<bool> firePending{false};
  // Handed-out fires that have not finished: they point at the source without owning it,
  // so whoever watches the source keeps it until they are done.
  std::atomic<int> inFlight{0};
  bool finished = false;  // a one-shot source that fired (its watcher only)

  // For a queue's watch: the steady clock's time of the deadline. A wall-clock deadline
  // is looked at again at least every 0.25 s, in case the time of day jumps.
  double due() const override {
    if (cancelled.load() || finished) return INFINITY;
    if (!wall) return deadline;
    const double left = deadline - secondsOn(true);
    return left <= 0 ? -INFINITY : secondsOn(false) + std::min(left, 0.25);
  }

  dispatch::Block fall() override {
    const double at = now();
    if (at < deadline) return {};  // an early look (the wall clock went back)
    dispatch::Block block;
    if (!firePending.exchange(true)) {
      // A raw pointer keeps the block inside std::function's own storage, so a fire
      // allocates nothing; inFlight keeps the source alive until the block is done.
      Source* source = this;
      inFlight.fetch_add(1);
      block = [source] {
        source->firePending.store(false);
        if (!source->cancelled.load()) source->fire();
        source->inFlight.fetch_sub(1);  // the last touch of the source
      };
    }
    if (!repeat) {
      finished = true;
    } else {
      while (deadline <= at) deadline += interval;
    }
    return block;
  }

  bool spent() const override { return (cancelled.load() || finished) && inFlight.load() == 0; }
};

// The one thread that watches every source's deadline.
class TimerThread {
 public:
  static TimerThread& shared() {
    static TimerThread* instance = new TimerThread();  // lives as long as the process
    return *instance;
  }

  void add(const std::shared_ptr<Source>& source) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sources_.push_back(source);
    }
    cv_.notify_all();
  }

  void wake() { cv_.notify_all(); }

 private:
  TimerThread() {
    std::thread([this] {
      nameThisThread("timers");
      run();
    }).detach();
  }

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      double wait = 3600;
      for (auto it = sources_.begin(); it != sources_.end();) {
        auto& s = **it;
        if (s.cancelled.load() || s.finished) {
          if (s.spent()) {
            it = sources_.erase(it);
          } else {
            wait = std::min(wait, 0.05);  // look again once the fire has run
            ++it;
          }
          continue;
        }
        const double now = s.now();
        if (now >= s.deadline) {
          if (dispatch::Block block = s.fall()) s.queue->async(std::move(block));
          if (s.finished) {
            ++it;
            continue;
          }
        }
        wait = std::min(wait, std::min(s.deadline - now, s.mayJump() ? 0.25 : 3600.0));
        ++it;
      }
      cv_.wait_for(lock, std::chrono::duration<double>(std::max(wait, 0.0)));
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::list<std::shared_ptr<Source>> sources_;
};

}  // namespace

struct GCDTimer::Impl {
  std::shared_ptr<dispatch::Queue> queue;
  uint64_t leeway = 0;
  std::string name;
  mutable std::mutex lock;
  bool valid = false;
  bool wall = false;
  std::shared_ptr<Clock> wallClock;
  std::shared_ptr<Clock> monotonicClock;
  std::shared_ptr<Source> source;
  bool watchedByQueue = false;  // else by the timer thread

  void invalidate() {
    std::shared_ptr<Source> cancelled;
    bool byQueue = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!valid) return;
      valid = false;
      cancelled = std::move(source);
      byQueue = watchedByQueue;
    }
    if (cancelled) {
      cancelled->cancelled.store(true);
      // Whoever watches it lets it go once its last fire has run.
      if (byQueue) {
        cancelled->queue->rewatch();
      } else {
        TimerThread::shared().wake();
      }
    }
  }
};

GCDTimer::GCDTimer(std::shared_ptr<dispatch::Queue> queue, uint64_t leeway, std::string name)
    : impl_(std::make_shared<Impl>()) {
  impl_->queue = std::move(queue);
  impl_->leeway = leeway;
  impl_->name = std::move(name);
}

GCDTimer::~GCDTimer() { impl_->invalidate(); }

std::unique_ptr<GCDTimer> GCDTimer::timerOnQueue(std::shared_ptr<dispatch::Queue> queue,
                                                 uint64_t leeway, std::string name) {
  return std::make_unique<GCDTimer>(std::move(queue), leeway, std::move(name));
}
std::unique_ptr<GCDTimer> GCDTimer::timerOnQueue(std::shared_ptr<dispatch::Queue> queue,
                                                 std::string name) {
  return timerOnQueue(std::move(queue), kDefaultLeeway, std::move(name));
}
std::unique_ptr<GCDTimer> GCDTimer::timerOnQueue(std::shared_ptr<dispatch::Queue> queue) {
  return timerOnQueue(std::move(queue), kDefaultLeeway, std::string());
}
std::unique_ptr<GCDTimer> GCDTimer::timerOnMainQueue(uint64_t leeway, std::string name) {
  return timerOnQueue(dispatch::mainQueuePtr(), leeway, std::move(name));
}
std::unique_ptr<GCDTimer> GCDTimer::timerOnMainQueue(std::string name) {
  return timerOnMainQueue(kDefaultLeeway, std::move(name));
}
std::unique_ptr<GCDTimer> GCDTimer::timerOnMainQueue() {
  return timerOnMainQueue(kDefaultLeeway, std::string());
}

void GCDTimer::scheduleBlock(dispatch::Block block, double interval, bool repeat) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  if (impl_->valid) {
    throw GCDTimerException("Attempt to schedule block while timer is valid.",
                            {{"GCDTimerNameKey", impl_->name}});
  }
  const uint64_t n = static_cast<uint64_t>(std::max(interval, 0.0) * 1e9);
  auto source = std::make_shared<Source>();
  source->queue = impl_->queue;
  source->repeat = repeat;
  source->wall = impl_->leeway >= 1'000'000'000ULL;
  source->clock = source->wall ? impl_->wallClock : impl_->monotonicClock;
  // A repeating source needs a positive period to advance its deadline.
  source->interval = std::max(static_cast<double>(n) * 1e-9, repeat ? 1e-4 : 0.0);
  source->deadline = source->now() + static_cast<double>(n) * 1e-9;
  // The handler holds the timer state alive until the timer is invalidated.
  std::shared_ptr<Impl> self = impl_;
  source->fire = [self, repeat, block = std::move(block)] {
    if (!repeat) self->invalidate();
    block();
  };
  impl_->wall = source->wall;
  impl_->source = source;
  impl_->valid = true;
  // A test's stepped clock is looked at by the timer thread, which polls it.
  impl_->watchedByQueue = !source->clock && source->queue->watch(source);
  if (!impl_->watchedByQueue) TimerThread::shared().add(source);
}

void GCDTimer::setClocks(std::shared_ptr<Clock> wall, std::shared_ptr<Clock> monotonic) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->wallClock = std::move(wall);
  impl_->monotonicClock = std::move(monotonic);
}

void GCDTimer::invalidate() { impl_->invalidate(); }

bool GCDTimer::isValid() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->valid;
}

const std::string& GCDTimer::name() const { return impl_->name; }
uint64_t GCDTimer::leeway() const { return impl_->leeway; }

bool GCDTimer::usesWallClock() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->wall;
}

}  // namespace qv
