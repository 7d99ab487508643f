// A display tick must not allocate once running: it runs 30 times a second for hours.
// Global operator new is counted here on the thread that runs the tick, while it runs it,
// with the virtual sound system feeding the model real audio between ticks.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "gui/app/QtMainQueue.h"
#include "gui/display/QVPlotController.h"
#include "gui/support/DisplayTestSupport.h"
#include "platform/MainQueue.h"

#pragma push_macro("emit")
#undef emit
#include "audio/QVRecorder.h"
#include "audio/QVRecorderDelegate.h"
#include "audiolib/AudioLibrary.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#pragma pop_macro("emit")

namespace {
thread_local bool tCounting = false;
std::atomic<long> gAllocations{0};
}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void* operator new(std::size_t size) {
  if (tCounting) gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace qv::gui {
namespace {

class QuietDelegate final : public QVRecorderDelegate {
 public:
  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {}
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {}
};

TEST(DisplayTickAllocationTest, TickAllocatesNothingOnceRunning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer owns operator new";
#endif
  // Qt's event loop makes an event object for every main-queue block; the display's own
  // share of a tick is what is counted here, so the hand-run main queue stands in.
  QtMainQueue::uninstall();
  AudioLibrary::Options options;
  options.portAudio = false;
  options.simulatedTime = true;
  options.rescanSeconds = 0;
  AudioLibrary library(options);
  {
    // Simulated time: the model consumes exactly the audio rendered for it.
    auto clock = std::make_shared<ManualClock>();
    guitest::PlotArea area(1000, 600, 4, clock);
    area.build();
    QVPlotController& plots = area.plots();
    auto recorder = QVRecorder::initWithDeviceUUID("Virtual:Virtual Sound System", 2, 44100, false,
                                                   std::make_shared<QuietDelegate>(), library);
    ASSERT_NE(recorder, nullptr);
    recorder->setChannelMap({0, 1});
    recorder->addConsumer(plots.tfModel()->tfDataSource());
    recorder->resumeRec();

    const auto run = [&](int ticks, bool count) {
      for (int i = 0; i < ticks; ++i) {
        // 125 ms blocks, as the recorder delivers them, at 30 ticks a second.
        if (i % 15 == 0) {
          for (int b = 0; b < 4; ++b) library.virtualSoundSystem().render(5513);
        }
        clock->advance(1.0 / 30.0);
        QVPlotController::updateQueue()->sync([&] {
          tCounting = count;
          plots.tick();
          tCounting = false;
        });
        dispatch::mainQueue().drain();
      }
    };
    run(40, false);  // warm up: queues and charts reach their size
    const uint64_t before = plots.tickCount();
    run(120, true);
    EXPECT_EQ(plots.tickCount() - before, 120u);
    EXPECT_EQ(gAllocations.load(), 0);
    // The curves moved: the ticks did real work.
    EXPECT_TRUE(std::isfinite(plots.tfModel()->mpolyline()->values()[600]));
    recorder->stopRec();
  }
  QtMainQueue::install();
}

}  // namespace
}  // namespace qv::gui
