#include "traces/TraceManager.h"

#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "platform/Assert.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "traces/TraceFolders.h"
#include "traces/TraceTransaction.h"

namespace qv {

TraceManager& TraceManager::shared() {
  static dispatch::OnceFlag flag;
  static TraceManager* instance = nullptr;
  dispatch::once(flag, [] {
    instance = new TraceManager();
    // The shared store lives until the process ends; when it ends normally, the file is
    // left carrying every trace. Only from the store's own thread, never mid-transaction.
    std::atexit([] {
      if (std::this_thread::get_id() == instance->owner_ && !instance->database_.inTransaction()) {
        instance->database_.close();
      }
    });
  });
  return *instance;
}

TraceManager::TraceManager() : TraceManager(TraceFolders::dataFolder()) {}

TraceManager::TraceManager(const std::string& folder)
    : database_(folder),
      owner_(std::this_thread::get_id()),
      retries_([this](const PendingCapture& capture) { return storeCapture(capture); }) {
  if (!ensureOpen()) {
    qv::log("Trace database %s cannot be opened: %s", database_.path().c_str(),
            database_.lastError().c_str());
  }
}

TraceManager::~TraceManager() {
  // The last tries of pending captures must not call into a plot controller going away.
  visibilityChangedCallback_ = nullptr;
}

void TraceManager::checkThread() const {
  QV_ASSERT_TEXT(std::this_thread::get_id() == owner_,
                 "TraceManager used from a thread other than the one that made it");
}

bool TraceManager::isReadOnly() const { return !database_.isOpen() || database_.isReadOnly(); }

void TraceManager::setVisibilityChangedCallback(VisibilityChangedCallback callback) {
  checkThread();
  visibilityChangedCallback_ = std::move(callback);
}

bool TraceManager::ensureOpen() {
  if (database_.isOpen()) return true;
  std::vector<TraceShotRef> list;
  if (!database_.open(list)) {
    adopt({});
    return false;
  }
  dataVersion_ = database_.dataVersion();
  adopt(std::move(list));
  return true;
}

void TraceManager::adopt(std::vector<TraceShotRef> list) {
  TraceShotResults after(std::move(list));
  const TraceChangeSet changes = TraceChangeSet::between(list_, after);
  list_ = after;
  if (!changes.empty()) notifier_.post(list_, changes);
}

void TraceManager::reloadAfterCommit(const std::vector<std::int64_t>& touched) {
  std::vector<TraceShotRef> next;
  const std::int64_t version = database_.dataVersion();
  bool ok = true;
  if (version != dataVersion_) {
    // Another process committed since we last looked: we cannot know what it changed.
    ok = database_.loadAll(next);
  } else {
    std::vector<std::int64_t> ids;
    ok = database_.loadOrderedIds(ids);
    std::unordered_map<std::int64_t, TraceShotRef> known;
    for (const TraceShotRef& shot : list_) known.emplace(shot->id, shot);
    const std::unordered_set<std::int64_t> changed(touched.begin(), touched.end());
    next.reserve(ids.size());
    for (std::size_t i = 0; ok && i < ids.size(); ++i) {
      const auto found = known.find(ids[i]);
      if (found != known.end() && !changed.count(ids[i])) {
        next.push_back(found->second);
      } else if (TraceShotRef shot = database_.load(ids[i])) {
        next.push_back(std::move(shot));
      } else {
        ok = database_.lastError().empty();  // deleted between the two reads
      }
    }
  }
  if (!ok) {
    notifier_.postError(list_, database_.lastError());
    return;
  }
  dataVersion_ = version;
  adopt(std::move(next));
}

void TraceManager::reopenIfWritable() {
  if (!database_.mayWriteAgain()) return;
  qv::log("Trace database %s may be written again: reopened", database_.path().c_str());
  database_.close();
  ensureOpen();
}

bool TraceManager::transaction(const Body& body, std::string* error) {
  checkThread();
  // A visibility callback that writes to the store from inside a transaction would nest
  // transactions, which SQLite refuses.
  QV_ASSERT(!database_.inTransaction());
  reopenIfWritable();
  std::vector<std::int64_t> touched;
  reportedInTransaction_.clear();
  bool ok = false;
  if (ensureOpen()) {
    database_.ensureColumns();
    TraceTransaction transaction(database_);
    // Rolled back when it leaves this scope uncommitted, also by an exception.
    ok = transaction.began() && body(touched) && transaction.commit();
  }
  std::vector<std::int64_t> reported;
  reported.swap(reportedInTransaction_);
  if (ok) {
    reloadAfterCommit(touched);
    return true;
  }
  std::string why = database_.lastError();
  if (why.empty()) why = "unknown error";
  if (error) {
    *error = why;
  } else {
    qv::log("Error in Realm transaction: %s", why.c_str());
  }
  // Traces hidden on screen inside the failed transaction are still stored: show them again.
  for (std::int64_t id : reported) {
    if (TraceShotRef shot = findById(id)) report(*shot);
  }
  return false;
}

void TraceManager::report(const TraceShot& shot) {
  if (visibilityChangedCallback_) visibilityChangedCallback_(shot);
}

void TraceManager::reportInTransaction(const TraceShot& shot) {
  reportedInTransaction_.push_back(shot.id);
  report(shot);
}

TraceShotRef TraceManager::findById(std::int64_t id) const {
  for (const TraceShotRef& shot : list_) {
    if (shot->id == id) return shot;
  }
  return nullptr;
}

void TraceManager::start() {
  checkThread();
  for (const TraceShotRef& shot : list_) {
    if (shot->visible) report(*shot);
  }
}

TraceShotRef TraceManager::traceShotForIndex(std::size_t index) const {
  return index < list_.count() ? list_.at(index) : nullptr;
}

std::vector<TraceShotRef> TraceManager::allSelectedTraces() const {
  std::vector<TraceShotRef> selected;
  for (const TraceShotRef& shot : list_) {
    if (shot->selected) selected.push_back(shot);
  }
  return selected;
}

std::vector<TraceShotRef> TraceManager::allVisibleTraces() const {
  std::vector<TraceShotRef> visible;
  for (const TraceShotRef& shot : list_) {
    if (shot->visible) visible.push_back(shot);
  }
  return visible;
}

bool TraceManager::hasSelectedTraces() const {
  for (const TraceShotRef& shot : list_) {
    if (shot->selected) return true;
  }
  return false;
}

std::optional<RGBAColor> TraceManager::colorForShot(const TraceShot& shot) const {
  if (auto explicitColor = shot.color()) return explicitColor;
  const auto& colors = palette_.colors();
  if (shot.colorIndex >= 0 && shot.colorIndex < static_cast<std::int64_t>(colors.size())) {
    return colors[static_cast<std::size_t>(shot.colorIndex)];
  }
  return std::nullopt;
}

void TraceManager::setNameForShot(const std::string& name, const TraceShot& shot) {
  if (shot.id == 0) return;  // not stored: nothing to write
  transaction([&](std::vector<std::int64_t>& touched) {
    touched.push_back(shot.id);
    return database_.setText(shot.id, "name", name);
  });
}

void TraceManager::setNameForIndex(const std::string& name, std::size_t index) {
  if (TraceShotRef shot = traceShotForIndex(index)) setNameForShot(name, *shot);
}

void TraceManager::setColorForShot(const std::optional<RGBAColor>& color, const TraceShot& shot) {
  if (shot.id == 0) return;
  TraceShot encoded;
  encoded.setColor(color);
  const bool ok = transaction([&](std::vector<std::int64_t>& touched) {
    touched.push_back(shot.id);
    return database_.setBlob(shot.id, "colorData", encoded.colorData);
  });
  if (!ok) return;
  if (TraceShotRef changed = findById(shot.id); changed && changed->visible) report(*changed);
}

void TraceManager::setSelectedForIndex(bool selected, std::size_t index) {
  if (index == kNotFound) {
    deselectAll();
    return;
  }
  const TraceShotRef shot = traceShotForIndex(index);
  if (!shot) return;
  transaction([&](std::vector<std::int64_t>& touched) {
    if (!database_.idsWhere("selected = 1", touched) ||
        !database_.setIntegerWhere("selected", 0, "selected = 1")) {
      return false;
    }
    touched.push_back(shot->id);
    return database_.setInteger(shot->id, "selected", selected ? 1 : 0);
  });
}

void TraceManager::deselectAll() {
  transaction([&](std::vector<std::int64_t>& touched) {
    return database_.idsWhere("selected = 1", touched) &&
           database_.setIntegerWhere("selected", 0, "selected = 1");
  });
}

void TraceManager::toggleVisibilityForShot(const TraceShot& shot) {
  if (shot.id == 0) return;
  bool found = false;
  const bool ok = transaction([&](std::vector<std::int64_t>& touched) {
    // The stored flag, not the caller's copy, is what gets inverted.
    const TraceShotRef stored = database_.load(shot.id);
    if (!stored) return database_.lastError().empty();
    found = true;
    touched.push_back(shot.id);
    return database_.setInteger(shot.id, "visible", stored->visible ? 0 : 1);
  });
  if (!ok || !found) return;
  if (TraceShotRef changed = findById(shot.id)) report(*changed);
}

void TraceManager::toggleVisibilityForIndex(std::size_t index) {
  if (TraceShotRef shot = traceShotForIndex(index)) toggleVisibilityForShot(*shot);
}

void TraceManager::setVisibilityForAllTraces(bool visible) {
  const bool ok = transaction([&](std::vector<std::int64_t>& touched) {
    return database_.idsWhere(visible ? "visible = 0" : "visible = 1", touched) &&
           database_.setIntegerWhere("visible", visible ? 1 : 0,
                                     visible ? "visible = 0" : "visible = 1");
  });
  if (!ok || !visibilityChangedCallback_) return;
  for (const TraceShotRef& shot : list_) report(*shot);
}

void TraceManager::deleteShotAtIndex(std::size_t index) {
  const TraceShotRef shot = traceShotForIndex(index);
  if (!shot) return;
  transaction([&](std::vector<std::int64_t>& touched) {
    touched.push_back(shot->id);
    if (!database_.setInteger(shot->id, "visible", 0)) return false;
    TraceShot hidden = *shot;
    hidden.visible = false;
    reportInTransaction(hidden);
    return database_.remove(shot->id);
  });
}

void TraceManager::deleteAllSelected() {
  transaction([&](std::vector<std::int64_t>& touched) {
    std::vector<std::int64_t> shown;
    if (!database_.idsWhere("selected = 1 AND visible = 1", shown)) return false;
    for (std::int64_t id : shown) {
      if (!database_.setInteger(id, "visible", 0)) return false;
      TraceShotRef shot = findById(id);
      if (!shot) shot = database_.load(id);  // stored by another process since our last look
      if (!shot) continue;
      TraceShot hidden = *shot;
      hidden.visible = false;
      reportInTransaction(hidden);
    }
    return database_.idsWhere("selected = 1", touched) && database_.removeWhere("selected = 1");
  });
}

void TraceManager::clearAll() {
  const bool hidden = transaction([&](std::vector<std::int64_t>& touched) {
    return database_.idsWhere("visible = 1", touched) &&
           database_.setIntegerWhere("visible", 0, "visible = 1");
  });
  if (!hidden) return;
  for (const TraceShotRef& shot : list_) report(*shot);
  const bool deleted = transaction([&](std::vector<std::int64_t>& touched) {
    return database_.idsWhere("1", touched) && database_.removeWhere("1");
  });
  if (deleted) palette_.reset();
}

TraceNotificationToken TraceManager::addNotificationBlock(TraceResultsCallback callback) {
  checkThread();
  return notifier_.add(std::move(callback), list_);
}

void TraceManager::refresh() {
  checkThread();
  if (!ensureOpen()) return;
  const std::int64_t version = database_.dataVersion();
  if (version == dataVersion_) return;
  std::vector<TraceShotRef> list;
  if (!database_.loadAll(list)) {
    notifier_.postError(list_, database_.lastError());
    return;
  }
  dataVersion_ = version;
  adopt(std::move(list));
}

void TraceManager::removeRealmFiles() {
  checkThread();
  QV_ASSERT(!database_.inTransaction());
  database_.removeFiles();
  adopt({});
}

}  // namespace qv
