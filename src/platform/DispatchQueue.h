#pragma once
// Dispatch queues: serial queues (one worker thread, blocks in order), concurrent queues
// (a pool), and the main queue (see MainQueue.h). Blocks may be posted from any thread,
// but never from the audio driver's thread (posting allocates).
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv::dispatch {

using Block = std::function<void()>;

// Something that falls due from time to time (a timer's firings). A queue that can watches
// it on its own thread, so that no other thread has to wake to hand each firing over.
class Deadline {
 public:
  virtual ~Deadline() = default;
  // Seconds on the steady clock when it falls due next; +infinity while it never will.
  virtual double due() const = 0;
  // Called once due() has passed: the block to run now (empty when there is none), and
  // due() moves on.
  virtual Block fall() = 0;
  // Done with, and nothing it handed out is still waiting: the watcher lets it go.
  virtual bool spent() const = 0;
};

// Seconds on the steady clock, as deadlines count them.
double steadySeconds();

// The deadlines one thread watches, kept under its owner's lock.
class DeadlineList {
 public:
  void add(std::shared_ptr<Deadline> deadline) { list_.push_back(std::move(deadline)); }
  bool empty() const { return list_.empty(); }
  // When the next one falls due (+infinity: none will).
  double nextDue() const {
    double next = INFINITY;
    for (const auto& deadline : list_) next = std::fmin(next, deadline->due());
    return next;
  }
  // Moves the spent deadlines to `spent` (let them go after the lock: the last reference to
  // their queue may go with them), hands the blocks of up to `room` that fell due by now
  // to `take`, and returns when the next one falls due.
  template <class Take>
  double collect(std::vector<std::shared_ptr<Deadline>>& spent, size_t room, Take&& take) {
    double next = INFINITY;
    if (list_.empty()) return next;  // a queue without timers reads no clock
    const double now = steadySeconds();
    for (size_t i = 0; i < list_.size();) {
      Deadline& deadline = *list_[i];
      if (deadline.spent()) {
        spent.push_back(std::move(list_[i]));
        list_[i] = std::move(list_.back());
        list_.pop_back();
        continue;
      }
      if (room > 0 && deadline.due() <= now) {
        if (Block block = deadline.fall()) {
          take(std::move(block));
          --room;
        }
      }
      next = std::fmin(next, deadline.due());
      ++i;
    }
    return next;
  }

 private:
  std::vector<std::shared_ptr<Deadline>> list_;
};

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  explicit Queue(std::string label) : label_(std::move(label)) {}
  virtual ~Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  virtual void async(Block block) = 0;
  // Has this queue's own thread watch `deadline` and run its blocks as it falls due; false
  // when this queue cannot, and the caller has to watch it. A fallen deadline's block
  // runs before the blocks that wait, but never twice in a row while blocks wait.
  virtual bool watch(const std::shared_ptr<Deadline>& /*deadline*/) { return false; }
  // A watched deadline became spent: look at them again soon, so that it is let go.
  virtual void rewatch() {}
  // Runs the block on the queue and waits for it. Calling it from a block of the same
  // serial queue would deadlock, so that runs the block in place instead.
  void sync(const Block& block);
  // True while the calling thread runs a block of this queue.
  bool isCurrent() const;
  const std::string& label() const { return label_; }

 protected:
  // Queue implementations wrap every block in this, so isCurrent() works.
  void runBlock(const Block& block);

 private:
  std::string label_;
};

std::shared_ptr<Queue> makeSerialQueue(std::string label);
// threads = 0: one per processor.
std::shared_ptr<Queue> makeConcurrentQueue(std::string label, int threads = 0);
// The process-wide concurrent queue.
std::shared_ptr<Queue> globalQueue();

// Runs `block` exactly once per flag, whatever the thread.
using OnceFlag = std::once_flag;
inline void once(OnceFlag& flag, const Block& block) { std::call_once(flag, block); }

}  // namespace qv::dispatch
