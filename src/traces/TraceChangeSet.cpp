#include "traces/TraceChangeSet.h"

#include <algorithm>
#include <unordered_map>

namespace qv {
namespace {

// Positions (into `rows`) of a longest run of ascending values, found by patience sorting.
std::vector<bool> longestAscending(const std::vector<std::size_t>& rows) {
  std::vector<std::size_t> tails;  // per run length: position of its smallest last value
  std::vector<std::size_t> previous(rows.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto at =
        std::lower_bound(tails.begin(), tails.end(), rows[i],
                         [&](std::size_t tail, std::size_t row) { return rows[tail] < row; });
    if (at != tails.begin()) previous[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<bool> inRun(rows.size(), false);
  for (std::size_t i = tails.empty() ? rows.size() : tails.back(); i < rows.size();
       i = previous[i]) {
    inRun[i] = true;
  }
  return inRun;
}

}  // namespace

TraceChangeSet TraceChangeSet::between(const TraceShotResults& before,
                                       const TraceShotResults& after) {
  std::unordered_map<std::int64_t, std::size_t> oldRows;
  oldRows.reserve(before.count());
  for (std::size_t row = 0; row < before.count(); ++row) oldRows[before[row].id] = row;

  // Rows present in both, in their new order, with their old rows.
  std::vector<std::size_t> newRows;
  std::vector<std::size_t> keptOldRows;
  TraceChangeSet changes;
  for (std::size_t row = 0; row < after.count(); ++row) {
    const TraceShotRef& now = after.at(row);
    const auto found = oldRows.find(now->id);
    if (found == oldRows.end() || before[found->second].dateCreated != now->dateCreated) {
      changes.insertions.push_back(row);
      continue;
    }
    newRows.push_back(row);
    keptOldRows.push_back(found->second);
  }
  // A trace that changed places (the list was reordered) leaves its old row and comes in
  // at its new one; the most traces possible stay where they are.
  const std::vector<bool> stays = longestAscending(keptOldRows);
  std::vector<bool> kept(before.count(), false);
  for (std::size_t i = 0; i < newRows.size(); ++i) {
    if (!stays[i]) {
      changes.insertions.push_back(newRows[i]);
      continue;
    }
    kept[keptOldRows[i]] = true;
    // Unchanged traces share one object between snapshots, so most rows compare by pointer.
    const TraceShotRef& then = before.at(keptOldRows[i]);
    const TraceShotRef& now = after.at(newRows[i]);
    if (then != now && *then != *now) changes.modifications.push_back(newRows[i]);
  }
  for (std::size_t row = 0; row < before.count(); ++row) {
    if (!kept[row]) changes.deletions.push_back(row);
  }
  std::sort(changes.insertions.begin(), changes.insertions.end());
  return changes;
}

}  // namespace qv
