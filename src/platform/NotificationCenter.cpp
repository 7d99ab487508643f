#include "platform/NotificationCenter.h"

#include <algorithm>

namespace qv {

NotificationCenter::Token& NotificationCenter::Token::operator=(Token&& other) noexcept {
  if (this != &other) {
    reset();
    center_ = other.center_;
    id_ = other.id_;
    other.center_ = nullptr;
  }
  return *this;
}

void NotificationCenter::Token::reset() {
  if (center_) center_->remove(id_);
  center_ = nullptr;
}

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();  // lives until exit
  return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t id = nextId_++;
  entries_.push_back({id, name, std::make_shared<Observer>(std::move(observer))});
  return Token(this, id);
}

void NotificationCenter::post(const std::string& name, const std::any& object) {
  // Observers run outside the lock on a copy of the list, so that they may observe,
  // stop observing or post themselves.
  std::vector<std::pair<uint64_t, std::shared_ptr<Observer>>> targets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_)
      if (e.name == name) targets.emplace_back(e.id, e.observer);
  }
  for (auto& [id, observer] : targets) {
    bool stillThere;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stillThere = std::any_of(entries_.begin(), entries_.end(),
                               [id = id](const Entry& e) { return e.id == id; });
    }
    if (stillThere) (*observer)(object);
  }
}

size_t NotificationCenter::observerCount(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                           [&](const Entry& e) { return e.name == name; }));
}

void NotificationCenter::remove(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(
      std::remove_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; }),
      entries_.end());
}

}  // namespace qv
