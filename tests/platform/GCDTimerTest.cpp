#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/GCDTimer.h"
#include "platform/MainQueue.h"

namespace qv {
namespace {

struct ClockCase {
  const char* name;
  std::function<std::unique_ptr<GCDTimer>()> make;
  bool startsOnTheWallClock;
};

class TimerClock : public ::testing::TestWithParam<ClockCase> {};

// A timer starts on the clock its leeway chooses: stepping the other clock past the start
// does nothing; stepping that one fires it. Both clocks are fakes far from real time, so
// only a step can bring the start.
TEST_P(TimerClock, StartsOnTheClockItsLeewayChooses) {
  auto& main = dispatch::mainQueue();
  main.drain();
  auto wall = std::make_shared<ManualClock>(1.7e9);
  auto monotonic = std::make_shared<ManualClock>(5000.0);
  auto timer = GetParam().make();
  timer->setClocks(wall, monotonic);
  int runs = 0;
  timer->scheduleBlock([&] { ++runs; }, 60.0);
  ManualClock& chosen = GetParam().startsOnTheWallClock ? *wall : *monotonic;
  ManualClock& other = GetParam().startsOnTheWallClock ? *monotonic : *wall;

  other.advance(120.0);
  main.runFor(0.4);  // longer than the timer thread takes to look at a stepped clock
  EXPECT_EQ(runs, 0);
  chosen.advance(59.0);
  main.runFor(0.4);
  EXPECT_EQ(runs, 0);
  chosen.advance(1.5);
  EXPECT_TRUE(main.runUntil([&] { return runs > 0; }, 5.0));
  EXPECT_FALSE(timer->isValid());
}

INSTANTIATE_TEST_SUITE_P(
    Leeways, TimerClock,
    ::testing::Values(
        ClockCase{"DelayFinderOneSecond",
                  [] { return GCDTimer::timerOnMainQueue(1'000'000'000, "delaylocator.timer"); },
                  true},
        ClockCase{"DisplayOneMillisecond",
                  [] { return GCDTimer::timerOnMainQueue(1'000'000, "qvx.update.timer"); }, false},
        ClockCase{"DefaultTenthOfASecond", [] { return GCDTimer::timerOnMainQueue(); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GCDTimer, SchedulingAValidTimerThrowsWithItsNameAndChangesNothing) {
  auto queue = dispatch::makeSerialQueue("timer.twice");
  GCDTimer timer(queue, 1'000'000, "level.meter");
  std::atomic<int> fired{0};
  timer.scheduleBlock([&] { fired++; }, 0.01, true);
  try {
    timer.scheduleBlock([] {}, 0.5, false);
    FAIL() << "no exception";
  } catch (const GCDTimerException& e) {
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
  timer->scheduleBlock(
      [&] {
        ++runs;
        validInsideBlock = timer->isValid();
      },
      0.02);
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
    timer.scheduleBlock(
        [&] {
          fired++;
          if (!queue->isCurrent()) onQueue = false;
        },
        0.005, true);
    while (fired.load() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }                    // destruction invalidates
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

// A serial queue watches its own timers. An invalidated timer lets the queue go: the fire
// block holds the timer, and the timer holds its queue, so a queue that kept a spent timer
// would keep itself (and its thread) alive for ever.
TEST(GCDTimer, AnInvalidatedTimerLetsItsQueueGo) {
  for (const double interval : {0.002, 60.0}) {  // one that fires, one that is far off
    std::weak_ptr<dispatch::Queue> weak;
    std::atomic<int> fired{0};
    {
      auto queue = dispatch::makeSerialQueue("timer.release");
      weak = queue;
      GCDTimer timer(queue, 1'000'000, "release");
      timer.scheduleBlock([&] { fired++; }, interval, true);
      while (interval < 1.0 && fired.load() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      queue->sync([] {});  // the queue's thread has seen the timer and waits for it
    }
    for (int i = 0; i < 500 && !weak.expired(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(weak.expired()) << "interval " << interval;
  }
}

// A timer whose block outlasts its interval and a stream of blocks share the queue's
// thread: they take turns, so neither starves the other.
TEST(GCDTimer, ASlowTimerAndWaitingBlocksTakeTurns) {
  auto queue = dispatch::makeSerialQueue("timer.turns");
  std::mutex lock;
  std::string order;
  const auto note = [&](char c) {
    std::lock_guard<std::mutex> guard(lock);
    order += c;
  };
  GCDTimer timer(queue, 1'000'000, "turns");
  timer.scheduleBlock(
      [&] {
        note('T');
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
      },
      0.001, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::atomic<int> ran{0};
  for (int i = 0; i < 10; ++i) {
    queue->async([&] {
      note('B');
      ran++;
    });
  }
  for (int i = 0; i < 500 && ran.load() < 10; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  timer.invalidate();
  queue->sync([] {});
  ASSERT_EQ(ran.load(), 10) << order;
  const std::string during = order.substr(order.find('B'), order.rfind('B') - order.find('B') + 1);
  EXPECT_EQ(during.find("TT"), std::string::npos) << order;
  EXPECT_EQ(during.find("BB"), std::string::npos) << order;
}

}  // namespace
}  // namespace qv
