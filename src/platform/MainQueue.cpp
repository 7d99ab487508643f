#include "platform/MainQueue.h"

#include <chrono>
#include <cmath>

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

void MainQueue::setWaker(std::function<void()> waker) {
  std::lock_guard<std::mutex> lock(mutex_);
  waker_ = std::move(waker);
}

bool MainQueue::watch(const std::shared_ptr<Deadline>& deadline) {
  if (!deadline) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    deadlines_.add(deadline);
    if (waker_) waker_();
  }
  cv_.notify_all();
  return true;
}

void MainQueue::rewatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waker_) waker_();
  }
  cv_.notify_all();
}

size_t MainQueue::runDue(double* next) {
  // Taken under the lock, run after it: a block may schedule or end timers (which wakes
  // the loop again). More than four falling at once wait for the next call.
  std::array<Block, blocksPerCall> blocks;
  std::vector<std::shared_ptr<Deadline>> spent;
  size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    *next = deadlines_.collect(spent, blocks.size(),
                               [&](Block&& block) { blocks[count++] = std::move(block); });
  }
  for (size_t i = 0; i < count; ++i) runBlock(blocks[i]);
  return count;
}

double MainQueue::runFallen() {
  double next = INFINITY;
  if (runDue(&next) == blocksPerCall) return 0.0;  // more may have fallen due meanwhile
  return next;
}

int MainQueue::drain() {
  int count = 0;
  for (;;) {
    Block block;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!pending_.empty()) block = pending_.pop();
    }
    if (block) {
      runBlock(block);
      ++count;
      continue;
    }
    // What is queued now includes the timers that fell due.
    double next = INFINITY;
    const size_t fallen = runDue(&next);
    if (fallen == 0) return count;
    count += static_cast<int>(fallen);
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
    auto wake = std::min(deadline, now + milliseconds(10));
    const double due = deadlines_.nextDue();
    if (std::isfinite(due)) {
      wake = std::min(wake, steady_clock::time_point(
                                duration_cast<steady_clock::duration>(duration<double>(due))));
    }
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
