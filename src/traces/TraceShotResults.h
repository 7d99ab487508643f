#pragma once
// An immutable snapshot of the stored traces, newest first. Cheap to copy (shared);
// a change notification carries the snapshot its change set leads to. Any thread.
#include <cstddef>
#include <memory>
#include <vector>

#include "traces/TraceShot.h"

namespace qv {

class TraceShotResults {
 public:
  using List = std::vector<TraceShotRef>;

  TraceShotResults() : list_(std::make_shared<const List>()) {}
  explicit TraceShotResults(List list) : list_(std::make_shared<const List>(std::move(list))) {}

  std::size_t count() const { return list_->size(); }
  bool empty() const { return list_->empty(); }
  // No bounds forgiveness here: callers index within count().
  const TraceShot& operator[](std::size_t index) const { return *(*list_)[index]; }
  const TraceShotRef& at(std::size_t index) const { return (*list_)[index]; }
  TraceShotRef firstObject() const { return list_->empty() ? nullptr : list_->front(); }
  List::const_iterator begin() const { return list_->begin(); }
  List::const_iterator end() const { return list_->end(); }

 private:
  std::shared_ptr<const List> list_;
};

}  // namespace qv
