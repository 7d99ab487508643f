#include "traces/TraceChangeSet.h"

#include <unordered_map>

namespace qv {

TraceChangeSet TraceChangeSet::between(const TraceShotResults& before,
                                       const TraceShotResults& after) {
  std::unordered_map<std::int64_t, std::size_t> oldRows;
  oldRows.reserve(before.count());
  for (std::size_t row = 0; row < before.count(); ++row) oldRows[before[row].id] = row;

  TraceChangeSet changes;
  std::vector<bool> kept(before.count(), false);
  for (std::size_t row = 0; row < after.count(); ++row) {
    const TraceShotRef& now = after.at(row);
    const auto found = oldRows.find(now->id);
    if (found == oldRows.end() || before[found->second].dateCreated != now->dateCreated) {
      changes.insertions.push_back(row);
      continue;
    }
    kept[found->second] = true;
    // Unchanged traces share one object between snapshots, so most rows compare by pointer.
    const TraceShotRef& then = before.at(found->second);
    if (then != now && *then != *now) changes.modifications.push_back(row);
  }
  for (std::size_t row = 0; row < before.count(); ++row) {
    if (!kept[row]) changes.deletions.push_back(row);
  }
  return changes;
}

}  // namespace qv
