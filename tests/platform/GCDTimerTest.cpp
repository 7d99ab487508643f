#include "platform/GCDTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <semaphore>
#include <thread>

#include "platform/MainQueue.h"

namespace qv {
namespace {

TEST(GCDTimer, ConveniencesKeepLeewayAndNameAndStartInvalid) {
  auto queue = dispatch::makeSerialQueue("timer.test");
  auto named = GCDTimer::timerOnQueue(queue, "qvx.update.timer");
  EXPECT_EQ(named->leeway(), 100'000'000u);
  EXPECT_EQ(named->name(), "qvx.update.timer");
  EXPECT_FALSE(named->isValid());
  auto plain = GCDTimer::timerOnMainQueue();
  EXPECT_EQ(plain->leeway(), 100'000'000u);
  EXPECT_EQ(plain->name(), "");
  // Dropping never-scheduled timers must be quiet.
}

TEST(GCDTimer, LeewayChoosesTheClock) {
  auto queue = dispatch::makeSerialQueue("timer.clock");
  GCDTimer display(queue, 1'000'000, "display");
  display.scheduleBlock([] {}, 1.0 / 30, true);
  EXPECT_FALSE(display.usesWallClock());
  GCDTimer finder(queue, 1'000'000'000, "delaylocator.timer");
  finder.scheduleBlock([] {}, 0.1, true);
  EXPECT_TRUE(finder.usesWallClock());
}

TEST(GCDTimer, SchedulingAValidTimerThrowsWithItsNameAndChangesNothing) {
  auto queue = dispatch::makeSerialQueue("timer.twice");
  GCDTimer timer(queue, 1'000'000, "level.meter");
  std::atomic<int> fired{0};
  timer.scheduleBlock([&] { fired++; }, 0.01, true);
  try {
    timer.scheduleBlock([] {}, 0.5, false);
    FAIL() << "no exception";
  } catch (const GCDTimerException& e) {
    EXPECT_EQ(e.name(), "GCDTimerException");
    EXPECT_EQ(e.reason(), "Attempt to schedule block while timer is valid.");
    EXPECT_EQ(e.userInfo().at("GCDTimerNameKey"), "level.meter");
  }
  EXPECT_TRUE(timer.isValid());
  while (fired.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  timer.invalidate();
  EXPECT_FALSE(timer.isValid());
}

TEST(GCDTimer, OneShotIsInvalidBeforeItsBlockRunsAndFiresOnce) {
  auto& main = dispatch::mainQueue();
  main.drain();
  auto timer = GCDTimer::timerOnMainQueue(1'000'000, "oneshot");
  int runs = 0;
  bool validInsideBlock = true;
  timer->scheduleBlock([&] {
    ++runs;
    validInsideBlock = timer->isValid();
  }, 0.02);
  EXPECT_TRUE(main.runUntil([&] { return runs > 0; }, 5.0));
  main.runFor(0.1);
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(validInsideBlock);
  EXPECT_FALSE(timer->isValid());
}

TEST(GCDTimer, RepeatsOnItsQueueUntilInvalidatedAndNeverAfter) {
  auto queue = dispatch::makeSerialQueue("timer.repeat");
  std::atomic<int> fired{0};
  std::atomic<bool> onQueue{true};
  {
    GCDTimer timer(queue, 1'000'000, "repeat");
    timer.scheduleBlock([&] {
      fired++;
      if (!queue->isCurrent()) onQueue = false;
    }, 0.005, true);
    while (fired.load() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }  // destruction invalidates
  queue->sync([] {});  // a fire already posted may still run once
  const int atEnd = fired.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  queue->sync([] {});
  EXPECT_EQ(fired.load(), atEnd);
  EXPECT_TRUE(onQueue.load());
}

TEST(GCDTimer, ABusyQueueMergesFiresInsteadOfQueueingThem) {
  auto queue = dispatch::makeSerialQueue("timer.busy");
  std::atomic<int> fired{0};
  GCDTimer timer(queue, 1'000'000, "busy");
  // The queue stays blocked until the test lets it go, while the timer would fire
  // about thirty times.
  std::binary_semaphore unblock(0), looked(0);
  queue->async([&] { unblock.acquire(); });
  timer.scheduleBlock([&] { fired++; }, 0.005, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  int firedBeforeLook = -1;
  queue->async([&] {
    firedBeforeLook = fired.load();
    looked.release();
  });
  unblock.release();
  looked.acquire();
  timer.invalidate();
  // Everything the timer posted while the queue was blocked ran before the look: one
  // merged fire, not thirty.
  EXPECT_EQ(firedBeforeLook, 1);
}

}  // namespace
}  // namespace qv
