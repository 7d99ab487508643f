// A display tick must not allocate once running: it runs 30 times a second for hours.
// Global operator new is counted on the thread that runs the tick, while it runs it, with
// the virtual sound system feeding the model real audio in simulated time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "gui/app/QtMainQueue.h"
#include "gui/support/DisplayTestSupport.h"
#include "platform/GCDTimer.h"
#include "platform/MainQueue.h"
#include "support/CountedAllocations.h"

namespace qv::gui {
namespace {

TEST(DisplayTickAllocationTest, TickAllocatesNothingOnceRunning) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  // Qt makes an event object for every main-queue block; the display's own share of a
  // tick is what is counted, so the hand-run main queue stands in for the event loop.
  QtMainQueue::uninstall();
  {
    guitest::VirtualRoom room(true);
    auto clock = std::make_shared<ManualClock>();  // the model consumes what is rendered
    guitest::PlotArea area(1000, 600, 4, clock);
    area.build();
    session::MeasurementSession& session = area.session();
    room.feed(session.model().tfDataSource());
    room.recorder().resumeRec();
    const auto run = [&](int ticks, bool count) {
      for (int i = 0; i < ticks; ++i) {
        // Four 125 ms blocks per 15 ticks: 30 ticks a second.
        for (int b = 0; b < 4 && i % 15 == 0; ++b) room.library().virtualSoundSystem().render(5513);
        clock->advance(1.0 / 30.0);
        session::MeasurementSession::updateQueue()->sync([&] {
          tCounting = count;
          session.displayTick();
          tCounting = false;
        });
        dispatch::mainQueue().drain();
      }
    };
    run(40, false);  // warm up: queues and charts reach their size
    run(120, true);
    EXPECT_EQ(area.plots().tickCount(), 160u);
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_TRUE(std::isfinite(session.latestDisplay()->magnitude[600]));  // real work
  }
  QtMainQueue::install();
}

// The timer that drives the tick: its fires are posted from the timer thread to the
// update queue, and neither side may allocate per fire.
TEST(DisplayTickAllocationTest, TimerFiresAllocateNothingOnAnyThread) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  auto queue = dispatch::makeSerialQueue("alloc.timer.queue");
  std::atomic<int> fires{0};
  auto timer = GCDTimer::timerOnQueue(queue, 1'000'000, "alloc.timer");
  timer->scheduleBlock([&] { fires.fetch_add(1); }, 0.004, true);
  const auto waitFor = [&](int count) {
    for (int i = 0; i < 2000 && fires.load() < count; ++i) usleep(1000);
  };
  waitFor(10);  // the queue's slots have grown to their usual depth
  const int before = fires.load();
  gAllocations = 0;
  gCountingEverywhere = true;
  waitFor(before + 30);
  gCountingEverywhere = false;
  timer->invalidate();
  EXPECT_GE(fires.load(), before + 30);
  EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace qv::gui
