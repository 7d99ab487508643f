// Wake-ups of the main queue: a burst from other threads runs the handler once, and a
// block that arrives after its signal went does nothing.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/MainQueue.h"
#include "session/MainQueueSignal.h"

namespace qv::session {
namespace {

TEST(MainQueueSignalTest, ABurstFromOtherThreadsRunsTheHandlerOnceOnTheMainQueue) {
  dispatch::mainQueue().drain();
  int runs = 0;
  MainQueueSignal signal([&] { ++runs; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) signal.notify();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs, 0) << "only the main queue runs it";
  EXPECT_EQ(dispatch::mainQueue().drain(), 1);
  EXPECT_EQ(runs, 1);
  signal.notify();  // after a delivery, a new notice is a new wake-up
  dispatch::mainQueue().drain();
  EXPECT_EQ(runs, 2);
}

TEST(MainQueueSignalTest, ABlockArrivingAfterItsSignalWentDoesNothing) {
  dispatch::mainQueue().drain();
  int runs = 0;
  auto signal = std::make_unique<MainQueueSignal>([&] { ++runs; });
  signal->notify();
  signal.reset();
  // Another signal may now live at the same address; the old block must not run it.
  MainQueueSignal successor([&] { runs += 10; });
  EXPECT_EQ(dispatch::mainQueue().drain(), 1);
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace qv::session
