#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gui/app/QtMainQueue.h"
#include "platform/GCDTimer.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "support/GuiTestSupport.h"

namespace {

TEST(MainQueueOnQt, BlocksFromAnyThreadRunOnTheGuiThreadInOrder) {
  std::vector<int> order;
  std::vector<bool> onMain;
  const auto mainThread = std::this_thread::get_id();
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      qv::dispatch::mainQueue().async([&, i] {
        order.push_back(i);
        onMain.push_back(std::this_thread::get_id() == mainThread);
      });
  });
  poster.join();
  ASSERT_TRUE(qv::guitest::processEventsUntil([&] { return order.size() == 100; }, 5000));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  for (bool b : onMain) EXPECT_TRUE(b);
}

TEST(MainQueueOnQt, UninstallRunsWhatIsStillWaiting) {
  int ran = 0;
  for (int i = 0; i < 10; ++i) qv::dispatch::mainQueue().async([&] { ++ran; });
  qv::gui::QtMainQueue::uninstall();
  EXPECT_EQ(ran, 10);
  qv::gui::QtMainQueue::install();
  qv::dispatch::mainQueue().async([&] { ++ran; });
  EXPECT_TRUE(qv::guitest::processEventsUntil([&] { return ran == 11; }, 2000));
}

// The main queue's timers fall due on the event loop's own timer, and keep firing when the
// hand-run loop takes over and when the event loop comes back.
TEST(MainQueueOnQt, TimersFireOnTheGuiThreadUnderEitherLoop) {
  const auto mainThread = std::this_thread::get_id();
  int fired = 0;
  bool offMain = false;
  auto timer = qv::GCDTimer::timerOnMainQueue(1'000'000, "level.meter");
  timer->scheduleBlock(
      [&] {
        ++fired;
        if (std::this_thread::get_id() != mainThread) offMain = true;
      },
      0.01, true);
  ASSERT_TRUE(qv::guitest::processEventsUntil([&] { return fired >= 5; }, 5000));
  qv::gui::QtMainQueue::uninstall();
  const int handRunFrom = fired;
  EXPECT_TRUE(qv::dispatch::mainQueue().runUntil([&] { return fired >= handRunFrom + 5; }, 5.0));
  qv::gui::QtMainQueue::install();
  const int qtFrom = fired;
  EXPECT_TRUE(qv::guitest::processEventsUntil([&] { return fired >= qtFrom + 5; }, 5000));
  timer->invalidate();
  const int atEnd = fired;
  qv::guitest::processEventsUntil([] { return false; }, 100);
  EXPECT_EQ(fired, atEnd);
  EXPECT_FALSE(offMain);
}

TEST(NotificationCenter, DeliversToObserversOfTheNameWhileTheirTokenLives) {
  auto& center = qv::NotificationCenter::defaultCenter();
  std::vector<float> got;
  int other = 0;
  {
    auto token = center.addObserver(
        "QVCursorMoved", [&](const std::any& o) { got = std::any_cast<std::vector<float>>(o); });
    auto otherToken = center.addObserver("Other", [&](const std::any&) { ++other; });
    center.post("QVCursorMoved", std::vector<float>{1000.0f, -6.0f, 12.0f, 98.0f});
    EXPECT_EQ(got, (std::vector<float>{1000.0f, -6.0f, 12.0f, 98.0f}));
    EXPECT_EQ(other, 0);
  }
  got.clear();
  center.post("QVCursorMoved", std::vector<float>{1.0f});
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(center.observerCount("QVCursorMoved"), 0u);
}

TEST(NotificationCenter, AnObserverMayRemoveAnotherWhileBeingCalled) {
  auto& center = qv::NotificationCenter::defaultCenter();
  qv::NotificationCenter::Token second;
  int secondCalls = 0;
  auto first = center.addObserver("n", [&](const std::any&) { second.reset(); });
  second = center.addObserver("n", [&](const std::any&) { ++secondCalls; });
  center.post("n");
  EXPECT_EQ(secondCalls, 0);
}

}  // namespace
