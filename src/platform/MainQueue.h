#pragma once
// The main queue: blocks for the user-interface thread. Where they run is pluggable:
// the desktop program installs an executor that posts to its event loop; tests and the
// command line leave the default, which queues blocks until someone runs the loop here
// (run(), runFor(), runUntil(), drain()) on the thread that acts as the main thread.
#include <condition_variable>

#include "platform/BlockFifo.h"
#include "platform/DispatchQueue.h"

namespace qv::dispatch {

class MainQueue final : public Queue {
 public:
  using Executor = std::function<void(Block)>;

  MainQueue() : Queue("com.apple.main-thread") {}

  void async(Block block) override;
  // nullptr restores the hand-run loop.
  void setExecutor(Executor executor);

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

  std::mutex mutex_;
  std::condition_variable cv_;
  BlockFifo pending_;
  Executor executor_;
};

MainQueue& mainQueue();
// The same queue as a shared pointer, for APIs that take any queue.
std::shared_ptr<Queue> mainQueuePtr();

}  // namespace qv::dispatch
