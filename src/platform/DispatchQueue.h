#pragma once
// Dispatch queues: serial queues (one worker thread, blocks in order), concurrent queues
// (a pool), and the main queue (see MainQueue.h). Blocks may be posted from any thread,
// but never from the audio driver's thread (posting allocates).
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace qv::dispatch {

using Block = std::function<void()>;

class Queue : public std::enable_shared_from_this<Queue> {
 public:
  explicit Queue(std::string label) : label_(std::move(label)) {}
  virtual ~Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  virtual void async(Block block) = 0;
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
