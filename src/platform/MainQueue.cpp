#include "platform/MainQueue.h"

#include <chrono>

namespace qv::dispatch {

void MainQueue::async(Block block) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (executor_) {
    Executor executor = executor_;
    lock.unlock();
    executor(std::move(block));
    return;
  }
  pending_.push(std::move(block));
  // Under the lock, so that whoever takes the block later (or ends the queue at exit) is
  // ordered after this thread's last touch of the queue.
  cv_.notify_all();
}

void MainQueue::setExecutor(Executor executor) {
  std::lock_guard<std::mutex> lock(mutex_);
  executor_ = std::move(executor);
}

int MainQueue::drain() {
  int count = 0;
  for (;;) {
    Block block;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return count;
      block = pending_.pop();
    }
    runBlock(block);
    ++count;
  }
}

int MainQueue::runLoop(const std::function<bool()>& done, double timeoutSeconds, bool* finished) {
  using namespace std::chrono;
  const auto deadline =
      steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(timeoutSeconds));
  int count = 0;
  for (;;) {
    count += drain();
    if (done && done()) {
      *finished = true;
      return count;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const auto now = steady_clock::now();
    if (now >= deadline) {
      *finished = false;
      return count;
    }
    const auto wake = std::min(deadline, now + milliseconds(10));
    cv_.wait_until(lock, wake, [this] { return !pending_.empty(); });
  }
}

bool MainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  bool finished = false;
  runLoop(done, timeoutSeconds, &finished);
  return finished;
}

int MainQueue::runFor(double seconds) {
  bool finished = false;
  return runLoop(nullptr, seconds, &finished);
}

MainQueue& mainQueue() {
  static const std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
  return *queue;
}

std::shared_ptr<Queue> mainQueuePtr() { return mainQueue().shared_from_this(); }

}  // namespace qv::dispatch
