#pragma once
// Hands values from one writer to any number of readers without locks, waits or
// allocations: N slots made once, each with a count of the readers holding it. The writer
// fills a slot that is neither the latest nor held and then makes it the latest; a reader
// counts itself into the latest slot and checks that it is still the latest, so a slot is
// never changed while a reader holds it and a reader never sees a slot half written.
// Thread contract: beginWrite/publish on one thread at a time (the writer); acquire and
// Ref on any thread. Readers hold a value briefly (copy what they keep); while every slot
// but the latest is held, beginWrite finds none and that publication is skipped, so the
// writer never waits. Refs must go before the pool does.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/Assert.h"

namespace qv::session {

template <typename T, size_t N>
class SnapshotPool {
  static_assert(N >= 3, "the latest, one being written and one held by a reader");

 public:
  // Read access to one published value; the slot stays as it is while the Ref lives.
  class Ref {
   public:
    Ref() = default;
    Ref(Ref&& other) noexcept : pool_(std::exchange(other.pool_, nullptr)), slot_(other.slot_) {}
    Ref& operator=(Ref&& other) noexcept {
      if (this != &other) {
        release();
        pool_ = std::exchange(other.pool_, nullptr);
        slot_ = other.slot_;
      }
      return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { release(); }

    explicit operator bool() const { return pool_ != nullptr; }
    const T& operator*() const { return pool_->slots_[slot_].value; }
    const T* operator->() const { return &pool_->slots_[slot_].value; }
    const T* get() const { return pool_ ? &pool_->slots_[slot_].value : nullptr; }

   private:
    friend class SnapshotPool;
    Ref(const SnapshotPool* pool, size_t slot) : pool_(pool), slot_(slot) {}
    void release() {
      if (pool_) pool_->slots_[slot_].readers.fetch_sub(1, std::memory_order_seq_cst);
      pool_ = nullptr;
    }
    const SnapshotPool* pool_ = nullptr;
    size_t slot_ = 0;
  };

  // `prepare` is called once per slot with its value, to size its buffers.
  template <typename Prepare>
  explicit SnapshotPool(Prepare prepare) {
    for (auto& slot : slots_) prepare(slot.value);
  }
  SnapshotPool() = default;
  ~SnapshotPool() {
    for (const auto& slot : slots_)
      QV_ASSERT_TEXT(slot.readers.load() == 0, "no Ref outlives its pool");
  }
  SnapshotPool(const SnapshotPool&) = delete;
  SnapshotPool& operator=(const SnapshotPool&) = delete;

  // Writer: a slot to fill (it holds what it held when last published), or null when
  // readers hold every spare slot.
  T* beginWrite() {
    const int64_t latest = latest_.load(std::memory_order_relaxed);  // only we store it
    for (size_t step = 1; step <= N; ++step) {
      const size_t slot = (last_ + step) % N;
      if (static_cast<int64_t>(slot) == latest) continue;
      // A reader counts itself in before it checks the latest, and we moved the latest
      // away from this slot before we look here: one of us sees the other (both seq_cst).
      if (slots_[slot].readers.load(std::memory_order_seq_cst) != 0) continue;
      writing_ = static_cast<int64_t>(slot);
      return &slots_[slot].value;
    }
    skipped_.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }

  // Writer: the slot of the last successful beginWrite becomes the latest.
  void publish() {
    QV_ASSERT_TEXT(writing_ >= 0, "publish follows a successful beginWrite");
    last_ = static_cast<size_t>(writing_);
    latest_.store(writing_, std::memory_order_seq_cst);
    writing_ = -1;
    published_.fetch_add(1, std::memory_order_relaxed);
  }

  // Any thread: the latest value, or an empty Ref before the first publication.
  Ref acquire() const {
    for (;;) {
      const int64_t slot = latest_.load(std::memory_order_seq_cst);
      if (slot < 0) return {};
      auto& readers = slots_[static_cast<size_t>(slot)].readers;
      readers.fetch_add(1, std::memory_order_seq_cst);
      // Still the latest: the writer cannot have begun on it since, and will not while we
      // are counted. Otherwise it may be being written: let go and take the new latest.
      if (latest_.load(std::memory_order_seq_cst) == slot)
        return Ref(this, static_cast<size_t>(slot));
      readers.fetch_sub(1, std::memory_order_seq_cst);
    }
  }

  uint64_t published() const { return published_.load(std::memory_order_relaxed); }
  // Publications given up because readers held every spare slot.
  uint64_t skipped() const { return skipped_.load(std::memory_order_relaxed); }
  static constexpr size_t slotCount() { return N; }

 private:
  struct Slot {
    T value{};
    mutable std::atomic<uint32_t> readers{0};
  };
  std::array<Slot, N> slots_;
  std::atomic<int64_t> latest_{-1};
  int64_t writing_ = -1;  // writer only
  size_t last_ = N - 1;   // writer only: the slot published last
  std::atomic<uint64_t> published_{0};
  std::atomic<uint64_t> skipped_{0};
};

}  // namespace qv::session
