#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "platform/DispatchQueue.h"

namespace qv::dispatch {
namespace {

// A timer's pending fire, or an object a tick keeps alive, can hold the last reference to
// the queue it runs on. The queue then goes away on its own worker, which must not touch
// it afterwards; under AddressSanitizer a use after free stops this test.
TEST(DispatchQueueRelease, LastReferenceMayGoAwayOnItsOwnWorker) {
  std::atomic<int> ran{0};
  for (int round = 0; round < 20; ++round) {
    std::promise<void> released;
    auto queue = makeSerialQueue("release.in.block");
    Queue* raw = queue.get();
    // Released inside the block's body.
    raw->async([held = std::move(queue), &released, &ran]() mutable {
      held.reset();
      ran++;
      released.set_value();
    });
    released.get_future().wait();

    // Released when the finished block is destroyed.
    auto other = makeSerialQueue("release.with.block");
    raw = other.get();
    raw->async([held = std::move(other), &ran] { ran++; });
  }
  // Each round above leaves its worker time to finish; a fresh queue still runs blocks.
  auto probe = makeSerialQueue("probe");
  probe->sync([&ran] { ran++; });
  while (ran.load() < 41) probe->sync([] {});
  EXPECT_EQ(ran.load(), 41);
}

}  // namespace
}  // namespace qv::dispatch
