#include "platform/DispatchQueue.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <semaphore>
#include <thread>
#include <vector>

#include "platform/Assert.h"
#include "platform/BlockFifo.h"
#include "platform/ThreadName.h"

namespace qv::dispatch {
namespace {

thread_local const Queue* tCurrentQueue = nullptr;
// Set when a queue is destroyed on its own worker, which must then leave without touching it.
thread_local bool tOwnQueueDestroyed = false;

// Worker threads that drain one FIFO; a serial queue has one of them.
class ThreadedQueue final : public Queue {
 public:
  ThreadedQueue(std::string label, int threads) : Queue(std::move(label)) {
    for (int i = 0; i < threads; ++i) {
      workers_.emplace_back([this, name = threadNameForLabel(this->label())] {
        nameThisThread(name);
        work();
      });
    }
  }

  ~ThreadedQueue() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    for (auto& worker : workers_) {
      // The last reference may go away inside one of our own blocks.
      if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
        tOwnQueueDestroyed = true;
      } else {
        worker.join();
      }
    }
  }

  void async(Block block) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.push(std::move(block));
    }
    cv_.notify_one();
  }

  // A serial queue's one thread waits for its blocks and its deadlines alike.
  bool watch(const std::shared_ptr<Deadline>& deadline) override {
    if (workers_.size() != 1 || !deadline) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      deadlines_.add(deadline);
    }
    cv_.notify_one();
    return true;
  }

  void rewatch() override {
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_one();
  }

 private:
  void work() {
    bool lastFell = false;
    std::vector<std::shared_ptr<Deadline>> spent;
    for (;;) {
      Block block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
          const double next = deadlines_.collect(spent, SIZE_MAX,
                                                 [this](Block&& b) { fallen_.push(std::move(b)); });
          if (!pending_.empty() || !fallen_.empty() || stopping_ || !spent.empty()) break;
          if (std::isinf(next)) {
            cv_.wait(lock);
          } else {
            using namespace std::chrono;
            cv_.wait_until(lock, steady_clock::time_point(duration_cast<steady_clock::duration>(
                                     duration<double>(next))));
          }
        }
        if (!pending_.empty() || (!fallen_.empty() && !stopping_)) {
          // A deadline's block goes first, but alternates with waiting blocks so that
          // neither starves the other.
          lastFell = !fallen_.empty() && !stopping_ && (!lastFell || pending_.empty());
          block = lastFell ? fallen_.pop() : pending_.pop();
        } else if (spent.empty()) {
          // Pending blocks still run when the queue goes away, as they would hold it alive.
          return;
        }
      }
      if (!spent.empty()) {
        spent.clear();  // may hold the last reference to this queue
        if (tOwnQueueDestroyed) {
          tOwnQueueDestroyed = false;
          return;
        }
      }
      if (!block) continue;
      runBlock(block);
      block = nullptr;  // its captures may hold the last reference to this queue
      if (tOwnQueueDestroyed) {
        tOwnQueueDestroyed = false;
        return;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  BlockFifo pending_;
  BlockFifo fallen_;
  DeadlineList deadlines_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

double steadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Queue::runBlock(const Block& block) {
  const Queue* previous = tCurrentQueue;
  tCurrentQueue = this;
  block();
  tCurrentQueue = previous;
}

bool Queue::isCurrent() const { return tCurrentQueue == this; }

void Queue::sync(const Block& block) {
  if (isCurrent()) {
    block();
    return;
  }
  // Two references fit std::function's own storage and the semaphore lives on this
  // stack, so a sync call (the recorder makes one per block) allocates nothing.
  std::binary_semaphore done(0);
  async([&block, &done] {
    block();
    done.release();
  });
  done.acquire();
}

std::shared_ptr<Queue> makeSerialQueue(std::string label) {
  return std::make_shared<ThreadedQueue>(std::move(label), 1);
}

std::shared_ptr<Queue> makeConcurrentQueue(std::string label, int threads) {
  if (threads <= 0) threads = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  return std::make_shared<ThreadedQueue>(std::move(label), threads);
}

std::shared_ptr<Queue> globalQueue() {
  static const std::shared_ptr<Queue> queue = makeConcurrentQueue("global");
  return queue;
}

}  // namespace qv::dispatch
