#pragma once
// Wakes the main queue from any thread, once at a time: notify() posts one block (unless
// one is still waiting) that runs `onMain` on the main queue. A block that arrives after
// its signal has gone does nothing, so the owner may go at any time.
// Thread contract: notify on any thread, without locks or allocation (the block carries
// two plain words); construction, destruction and onMain on the main queue's thread.
#include <atomic>
#include <cstdint>
#include <functional>

namespace qv::session {

class MainQueueSignal {
 public:
  explicit MainQueueSignal(std::function<void()> onMain);
  ~MainQueueSignal();
  MainQueueSignal(const MainQueueSignal&) = delete;
  MainQueueSignal& operator=(const MainQueueSignal&) = delete;

  void notify();

 private:
  static void deliver(MainQueueSignal* signal, uint64_t serial);

  std::function<void()> onMain_;
  std::atomic<bool> pending_{false};
  uint64_t serial_;
};

}  // namespace qv::session
