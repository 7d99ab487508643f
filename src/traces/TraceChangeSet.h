#pragma once
// Row changes between two snapshots of the trace list: deletions at their old rows,
// insertions and modifications at their new rows, each ascending. A plain value.
#include <cstddef>
#include <vector>

#include "traces/TraceShotResults.h"

namespace qv {

struct TraceChangeSet {
  std::vector<std::size_t> deletions;
  std::vector<std::size_t> insertions;
  std::vector<std::size_t> modifications;

  bool empty() const { return deletions.empty() && insertions.empty() && modifications.empty(); }
  bool operator==(const TraceChangeSet&) const = default;

  // Traces are matched by row id; a trace present in both whose fields differ is a
  // modification. A row id that comes back with a different creation date is a new trace.
  // Traces that changed places are deleted at their old rows and inserted at their new ones.
  static TraceChangeSet between(const TraceShotResults& before, const TraceShotResults& after);
};

}  // namespace qv
