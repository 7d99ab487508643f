// The display tick: its interval by processor count, one timer however often the display
// is started (each start resetting the averages), and no timer without live charts.
#include <gtest/gtest.h>

#include <semaphore>
#include <thread>

#include "gui/app/AppSettings.h"
#include "gui/display/QVPlotController.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::PlotArea;

// Holds the update queue until released, so that timer fires wait behind it.
class QueueHold {
 public:
  QueueHold() {
    QVPlotController::updateQueue()->async([this] { release_.acquire(); });
  }
  ~QueueHold() { release(); }
  void release() {
    if (released_) return;
    released_ = true;
    release_.release();
  }

 private:
  std::binary_semaphore release_{0};
  bool released_ = false;
};

float averagingWeight(PlotArea& area) { return area.model().tfDataSource()->avgNew(); }

// Moves the averaging weight of new frames below 1, as running averages do.
void slideAverages(PlotArea& area) {
  area.model().tfDataSource()->updateAVGfactors();
  ASSERT_LT(averagingWeight(area), 1.0f);
}

TEST(PlotControllerTimerTest, TwoProcessorsTickFifteenTimesASecondFourThirty) {
  PlotArea two(400, 300, 2);
  two.build();
  EXPECT_DOUBLE_EQ(two.plots().updateInterval(), 1.0 / 15.0);
  PlotArea four(400, 300, 4);
  four.build();
  EXPECT_DOUBLE_EQ(four.plots().updateInterval(), 1.0 / 30.0);
}

TEST(PlotControllerTimerTest, StartRunsTheNamedTimerAndMarksBothViewsAnimating) {
  PlotArea area;
  area.build();
  area.controller().start();
  const GCDTimer* timer = area.plots().updateTimer();
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isValid());
  EXPECT_EQ(timer->name(), "qvx.update.timer");
  EXPECT_EQ(timer->leeway(), 1'000'000u);
  EXPECT_TRUE(area.mag().isAnimating());
  EXPECT_TRUE(area.phase().isAnimating());
  EXPECT_FALSE(area.impulse().isAnimating());
  // Ticks come and each asks for a redraw of both views.
  const uint64_t paints = area.mag().paintCount();
  area.base().show();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return area.plots().tickCount() >= 3; }, 10000));
  ASSERT_TRUE(guitest::processEventsUntil([&] { return area.mag().paintCount() > paints; }, 10000));

  area.controller().stop();
  EXPECT_FALSE(area.plots().updateTimer()->isValid());
  EXPECT_FALSE(area.mag().isAnimating());
  EXPECT_FALSE(area.phase().isAnimating());
}

TEST(PlotControllerTimerTest, StartingTwiceLeavesOneTimerAndResetsTheAveragesTwice) {
  PlotArea area;
  area.build();
  area.controller().start();
  EXPECT_EQ(averagingWeight(area), 1.0f);
  {
    QueueHold hold;  // no tick may slide the weights while we look at them
    slideAverages(area);
    area.controller().start();
    EXPECT_EQ(averagingWeight(area), 1.0f);

    // Long enough for every live timer to have a fire waiting behind the hold; a timer
    // keeps at most one fire waiting, so each live timer runs exactly one tick below.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const uint64_t before = area.plots().tickCount();
    hold.release();
    QVPlotController::updateQueue()->sync([] {});
    EXPECT_LE(area.plots().tickCount() - before, 1u);
  }
  const uint64_t ticks = area.plots().tickCount();
  EXPECT_TRUE(guitest::processEventsUntil([&] { return area.plots().tickCount() > ticks; }, 10000));
  area.controller().stop();
}

TEST(PlotControllerTimerTest, StartWithoutLiveChartsSchedulesNothing) {
  test::TempFolder folder;
  TraceManager store(folder.path());
  struct Source final : QVTFPlotControllerDataSource {
    uint64_t sampleRate() override { return 44100; }
    uint64_t avgIndex() override { return 100; }
    uint64_t fftSize() override { return 32768; }
  } source;
  SpectrumPlotView mag;
  SpectrumPlotView phase;
  QVPlotController::Options options;
  options.processorCount = 4;
  options.traceManager = &store;
  QVPlotController controller(&mag, &phase, &source, options);
  controller.tfModel()->tfDataSource()->updateAVGfactors();
  const float weight = controller.tfModel()->tfDataSource()->avgNew();
  ASSERT_LT(weight, 1.0f);

  controller.startAnimating();
  ASSERT_NE(controller.updateTimer(), nullptr);
  EXPECT_FALSE(controller.updateTimer()->isValid());
  EXPECT_FALSE(mag.isAnimating());
  EXPECT_EQ(controller.tfModel()->tfDataSource()->avgNew(), weight);
  controller.stopAnimating();  // the unscheduled timer goes quietly
  EXPECT_EQ(controller.tickCount(), 0u);
}

TEST(PlotControllerTimerTest, ModelIsSetUpForTheLiveDisplay) {
  PlotArea area;
  area.build();
  TransferFunctionModel& model = area.model();
  EXPECT_EQ(model.fftSize(), 32768);
  EXPECT_EQ(model.samplingRate(), 44100);
  EXPECT_EQ(model.octResolution(), 96);
  EXPECT_EQ(model.smoothing(), 12);
  EXPECT_TRUE(model.tfDataSource()->channelsSwapped());
  // The stored averaging index (100 unless the user chose another).
  EXPECT_FLOAT_EQ(model.averagingIndex(), static_cast<float>(AppSettings::set().averaging()));
}

TEST(PlotControllerTimerTest, ControllerGoingWhileTicksRunLeavesNoTickBehind) {
  auto area = std::make_unique<PlotArea>();
  area->build();
  area->controller().start();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return area->plots().tickCount() >= 2; }, 10000));
  area.reset();
  // Redraw requests still queued for the gone controller are dropped.
  guitest::processEventsFor(200);
  SUCCEED();
}

}  // namespace
}  // namespace qv::gui
