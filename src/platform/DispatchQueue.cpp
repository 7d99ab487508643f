#include "platform/DispatchQueue.h"

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

 private:
  void work() {
    for (;;) {
      Block block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        // Pending blocks still run when the queue goes away, as they would hold it alive.
        if (pending_.empty()) return;
        block = pending_.pop();
      }
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
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

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
