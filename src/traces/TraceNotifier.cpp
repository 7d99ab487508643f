#include "traces/TraceNotifier.h"

#include <algorithm>

#include "platform/MainQueue.h"

namespace qv {

struct TraceNotificationToken::Registration {
  TraceResultsCallback callback;
  bool active = true;  // read and written on the main queue only
};

TraceNotificationToken& TraceNotificationToken::operator=(TraceNotificationToken&& other) noexcept {
  if (this != &other) {
    stop();
    registration_ = std::move(other.registration_);
  }
  return *this;
}

TraceNotificationToken::~TraceNotificationToken() { stop(); }

void TraceNotificationToken::stop() {
  if (!registration_) return;
  registration_->active = false;
  registration_->callback = nullptr;
  registration_.reset();
}

TraceNotificationToken TraceNotifier::add(TraceResultsCallback callback,
                                          const TraceShotResults& current) {
  auto registration = std::make_shared<TraceNotificationToken::Registration>();
  registration->callback = std::move(callback);
  registrations_.push_back(registration);
  std::weak_ptr<TraceNotificationToken::Registration> weak = registration;
  dispatch::mainQueue().async([weak, current] {
    if (auto r = weak.lock(); r && r->active) r->callback(current, std::nullopt, std::nullopt);
  });
  return TraceNotificationToken(std::move(registration));
}

void TraceNotifier::post(const TraceShotResults& results, const TraceChangeSet& changes) {
  deliver(results, changes, std::nullopt);
}

void TraceNotifier::postError(const TraceShotResults& results, const std::string& error) {
  deliver(results, std::nullopt, error);
}

bool TraceNotifier::hasObservers() {
  std::erase_if(registrations_, [](const auto& weak) { return weak.expired(); });
  return !registrations_.empty();
}

void TraceNotifier::deliver(const TraceShotResults& results,
                            const std::optional<TraceChangeSet>& changes,
                            const std::optional<std::string>& error) {
  if (!hasObservers()) return;
  for (const auto& weak : registrations_) {
    dispatch::mainQueue().async([weak, results, changes, error] {
      // Holding the registration while calling keeps a callback that stops its own
      // token from being destroyed under itself.
      if (auto r = weak.lock(); r && r->active) {
        const TraceResultsCallback callback = r->callback;
        callback(results, changes, error);
      }
    });
  }
}

}  // namespace qv
