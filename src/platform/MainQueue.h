#pragma once
// The main queue: blocks for the user-interface thread. Where they run is pluggable:
// the desktop program installs an executor that posts to its event loop; tests and the
// command line leave the default, which queues blocks until someone runs the loop here
// (run(), runFor(), runUntil(), drain()) on the thread that acts as the main thread.
// The main queue watches its timers' deadlines itself: the hand-run loop waits for them,
// and an executor's event loop is told (the waker) to call runFallen() when they change.
#include <array>
#include <condition_variable>
#include <vector>

#include "platform/BlockFifo.h"
#include "platform/DispatchQueue.h"

namespace qv::dispatch {

class MainQueue final : public Queue {
 public:
  using Executor = std::function<void(Block)>;

  MainQueue() : Queue("com.apple.main-thread") {}

  void async(Block block) override;
  bool watch(const std::shared_ptr<Deadline>& deadline) override;
  void rewatch() override;
  // nullptr restores the hand-run loop.
  void setExecutor(Executor executor);
  // Called from any thread when a deadline is added or spent, for an executor's loop to
  // call runFallen() soon; nullptr: no one (the hand-run loop looks by itself).
  void setWaker(std::function<void()> waker);

  // Main thread: runs the blocks of the deadlines that fell due, as main-queue blocks, and
  // returns when the next one falls due (seconds on the steady clock; +infinity: none will).
  double runFallen();

  // Hand-run loop (default executor only). Each returns how many blocks ran.
  int drain();                 // runs what is queued now and what those queue
  int runFor(double seconds);  // runs blocks as they come for this long
  // Runs blocks until `done` is true (checked after each block and at least every 10 ms)
  // or the timeout passes; returns whether `done` became true.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

  // An executor's wrapper calls this to run a block as a main-queue block.
  void execute(const Block& block) { runBlock(block); }

 private:
  int runLoop(const std::function<bool()>& done, double timeoutSeconds, bool* finished);

  static constexpr size_t blocksPerCall = 4;
  // Runs the fallen blocks; returns how many ran, and the next due in `next`.
  size_t runDue(double* next);

  std::mutex mutex_;
  std::condition_variable cv_;
  BlockFifo pending_;
  Executor executor_;
  std::function<void()> waker_;
  DeadlineList deadlines_;
};

MainQueue& mainQueue();
// The same queue as a shared pointer, for APIs that take any queue.
std::shared_ptr<Queue> mainQueuePtr();

}  // namespace qv::dispatch
