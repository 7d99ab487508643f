#pragma once
// Named notifications with a payload, delivered synchronously to every observer of the
// name on the posting thread (the main thread in this program). An observation lasts as
// long as its token; observers may add or remove observations while being called.
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

class NotificationCenter {
 public:
  using Observer = std::function<void(const std::any& object)>;

  // Removes its observation when it goes (or at reset()).
  class Token {
   public:
    Token() = default;
    ~Token() { reset(); }
    Token(Token&& other) noexcept { *this = std::move(other); }
    Token& operator=(Token&& other) noexcept;
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    void reset();
    explicit operator bool() const { return center_ != nullptr; }

   private:
    friend class NotificationCenter;
    Token(NotificationCenter* center, uint64_t id) : center_(center), id_(id) {}
    NotificationCenter* center_ = nullptr;
    uint64_t id_ = 0;
  };

  static NotificationCenter& defaultCenter();

  [[nodiscard]] Token addObserver(const std::string& name, Observer observer);
  void post(const std::string& name, const std::any& object = {});
  size_t observerCount(const std::string& name) const;

 private:
  struct Entry {
    uint64_t id;
    std::string name;
    std::shared_ptr<Observer> observer;
  };
  void remove(uint64_t id);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  uint64_t nextId_ = 1;
};

}  // namespace qv
