// The trace store's arrangement of traces that leaves their curves alone: display offsets
// and the list's order; and closing the file. Main thread, like the rest of the store.
#include <algorithm>

#include "platform/Assert.h"
#include "traces/TraceManager.h"

namespace qv {

void TraceManager::setOffsetsForShot(double offsetDb, double delayMs, const TraceShot& shot) {
  if (shot.id == 0) return;
  const bool ok = transaction([&](std::vector<std::int64_t>& touched) {
    touched.push_back(shot.id);
    return database_.setReal(shot.id, "offsetDb", offsetDb) &&
           database_.setReal(shot.id, "offsetDelayMs", delayMs);
  });
  if (!ok) return;
  if (TraceShotRef changed = findById(shot.id); changed && changed->visible) report(*changed);
}

void TraceManager::moveShot(std::size_t from, std::size_t to) {
  const std::size_t count = list_.count();
  if (from >= count || to >= count || from == to) return;
  std::vector<std::int64_t> order;
  order.reserve(count);
  for (const TraceShotRef& shot : list_) order.push_back(shot->id);
  const std::int64_t moved = order[from];
  order.erase(order.begin() + static_cast<std::ptrdiff_t>(from));
  order.insert(order.begin() + static_cast<std::ptrdiff_t>(to), moved);
  const bool ok = transaction([&](std::vector<std::int64_t>& touched) {
    // Every trace gets its place, so that traces taken later (never moved) come first.
    std::int64_t place = 0;
    for (std::int64_t id : order) {
      if (!database_.setOptionalInteger(id, "listOrder", place++)) return false;
      touched.push_back(id);
    }
    return true;
  });
  if (ok) reportVisibleBottomUp();
}

void TraceManager::reportVisibleBottomUp() {
  if (!visibilityChangedCallback_) return;
  const TraceShotResults list = list_;
  for (auto it = list.end(); it != list.begin();) {
    --it;
    if ((*it)->visible) report(**it);
  }
}

void TraceManager::close() {
  checkThread();
  QV_ASSERT(!database_.inTransaction());
  database_.close();
}

}  // namespace qv
