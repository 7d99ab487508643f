#pragma once
// Delivers trace-list changes to observers on the main queue. Post from the thread that
// owns the trace store; callbacks run on the main queue. Registrations outlive the store
// safely: a queued delivery only holds the registration, never the store.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "traces/TraceChangeSet.h"
#include "traces/TraceShotResults.h"

namespace qv {

// results: the list after the change; changes: none on the first call; error: set when
// the store could not read its list (results then repeat the last good list).
using TraceResultsCallback = std::function<void(const TraceShotResults& results,
                                                const std::optional<TraceChangeSet>& changes,
                                                const std::optional<std::string>& error)>;

class TraceNotificationToken {
 public:
  TraceNotificationToken() = default;
  TraceNotificationToken(TraceNotificationToken&&) noexcept = default;
  TraceNotificationToken& operator=(TraceNotificationToken&& other) noexcept;
  ~TraceNotificationToken();

  // No callback runs after this returns, including deliveries already queued.
  void stop();

 private:
  friend class TraceNotifier;
  struct Registration;
  explicit TraceNotificationToken(std::shared_ptr<Registration> registration)
      : registration_(std::move(registration)) {}
  std::shared_ptr<Registration> registration_;
};

class TraceNotifier {
 public:
  // Queues the first delivery (no change set) with `current`.
  TraceNotificationToken add(TraceResultsCallback callback, const TraceShotResults& current);
  void post(const TraceShotResults& results, const TraceChangeSet& changes);
  void postError(const TraceShotResults& results, const std::string& error);
  bool hasObservers();

 private:
  void deliver(const TraceShotResults& results, const std::optional<TraceChangeSet>& changes,
               const std::optional<std::string>& error);
  std::vector<std::weak_ptr<TraceNotificationToken::Registration>> registrations_;
};

}  // namespace qv
