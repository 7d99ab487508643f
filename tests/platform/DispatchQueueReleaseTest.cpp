#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "platform/DispatchQueue.h"

namespace qv::dispatch {
namespace {

// A timer's pending fire, or an object a tick keeps alive, can hold the last reference to
// the queue it runs on. The queue then goes away on its own worker, which must not touch
// it afterwards; under AddressSanitizer a use after free stops this test.
class DispatchQueueRelease : public ::testing::TestWithParam<bool> {};

TEST_P(DispatchQueueRelease, LastReferenceMayGoAwayOnItsOwnWorker) {
  const bool releaseInBody = GetParam();
  for (int round = 0; round < 20; ++round) {
    std::promise<void> callerDropped;
    std::promise<void> ran;
    auto queue = makeSerialQueue("release");
    queue->async([held = queue, dropped = callerDropped.get_future().share(), &ran,
                  releaseInBody]() mutable {
      dropped.wait();
      if (releaseInBody) held.reset();  // else it goes when the finished block is destroyed
      ran.set_value();
    });
    queue.reset();
    callerDropped.set_value();
    ran.get_future().wait();
  }
  // The earlier workers had time to finish; a fresh queue still runs blocks.
  int probed = 0;
  makeSerialQueue("probe")->sync([&probed] { probed++; });
  EXPECT_EQ(probed, 1);
}

INSTANTIATE_TEST_SUITE_P(Where, DispatchQueueRelease, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "InBlock" : "WithBlock"; });

}  // namespace
}  // namespace qv::dispatch
