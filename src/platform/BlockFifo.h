#pragma once
// A first-in first-out list of blocks that reuses its slots: once it has grown to the
// queue's usual depth, posting and taking blocks allocate nothing (a block small enough
// for std::function's own storage moves without allocating). Not thread-safe: the queues
// guard it with their lock.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

namespace qv::dispatch {

class BlockFifo {
 public:
  using Block = std::function<void()>;

  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }

  void push(Block block) {
    if (count_ == slots_.size()) grow();
    slots_[(head_ + count_) % slots_.size()] = std::move(block);
    ++count_;
  }

  Block pop() {
    Block block = std::move(slots_[head_]);
    slots_[head_] = nullptr;
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return block;
  }

 private:
  void grow() {
    std::vector<Block> bigger(std::max<std::size_t>(16, 2 * slots_.size()));
    for (std::size_t i = 0; i < count_; ++i)
      bigger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
    slots_.swap(bigger);
    head_ = 0;
  }

  std::vector<Block> slots_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

}  // namespace qv::dispatch
