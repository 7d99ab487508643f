#include "session/MainQueueSignal.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/MainQueue.h"

namespace qv::session {
namespace {

// The signals that exist now, by address and serial number: a block names its signal so,
// and finds it gone (or its address taken by another) after the signal's destruction.
struct Registry {
  std::mutex mutex;
  std::vector<std::pair<const MainQueueSignal*, uint64_t>> live;
  uint64_t nextSerial = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

MainQueueSignal::MainQueueSignal(std::function<void()> onMain) : onMain_(std::move(onMain)) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  serial_ = r.nextSerial++;
  r.live.emplace_back(this, serial_);
}

MainQueueSignal::~MainQueueSignal() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.live.erase(std::remove(r.live.begin(), r.live.end(),
                           std::make_pair(static_cast<const MainQueueSignal*>(this), serial_)),
               r.live.end());
}

void MainQueueSignal::notify() {
  if (pending_.exchange(true, std::memory_order_acq_rel)) return;  // the waiting one will do
  dispatch::mainQueue().async([signal = this, serial = serial_] { deliver(signal, serial); });
}

void MainQueueSignal::deliver(MainQueueSignal* signal, uint64_t serial) {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (std::find(r.live.begin(), r.live.end(),
                  std::make_pair(static_cast<const MainQueueSignal*>(signal), serial)) ==
        r.live.end())
      return;
  }
  // Cleared first, so that a notify while onMain runs posts again rather than being lost.
  signal->pending_.store(false, std::memory_order_release);
  if (signal->onMain_) signal->onMain_();
}

}  // namespace qv::session
