// The display tick: its interval by processor count, one timer however often the display
// is started (each start resetting the averages), and no timer without live charts.
#include <gtest/gtest.h>

#include <semaphore>
#include <thread>

#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

float averagingWeight(const TransferFunctionModel& model) { return model.tfDataSource()->avgNew(); }

TEST(PlotControllerTimerTest, TwoProcessorsTickFifteenTimesASecondFourThirty) {
  guitest::PlotArea two(400, 300, 2);
  two.build();
  EXPECT_DOUBLE_EQ(two.plots().updateInterval(), 1.0 / 15.0);
  guitest::PlotArea four(400, 300, 4);
  four.build();
  EXPECT_DOUBLE_EQ(four.plots().updateInterval(), 1.0 / 30.0);
}

TEST(PlotControllerTimerTest, StartingTwiceLeavesOneTimerAndResetsTheAveragesTwice) {
  guitest::PlotArea area;
  area.build();
  area.controller().start();
  EXPECT_TRUE(area.mag().isAnimating());
  {
    // Park the update queue, so no tick moves the weights while we look at them.
    std::binary_semaphore parked(0);
    std::binary_semaphore hold(0);
    session::MeasurementSession::updateQueue()->async([&] {
      parked.release();
      hold.acquire();
    });
    parked.acquire();
    area.model().tfDataSource()->updateAVGfactors();  // as running averages do
    EXPECT_LT(averagingWeight(area.model()), 1.0f);
    area.controller().start();
    EXPECT_EQ(averagingWeight(area.model()), 1.0f);

    // Every live timer now gets a fire waiting behind the hold (a timer keeps at most one
    // waiting); a marker queued behind them counts the ticks they ran, whatever fires
    // come after the release.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t before = area.plots().tickCount();
    uint64_t atMarker = 0;
    session::MeasurementSession::updateQueue()->async([&] { atMarker = area.plots().tickCount(); });
    hold.release();
    session::MeasurementSession::updateQueue()->sync([] {});
    EXPECT_EQ(atMarker - before, 1u);
  }
  const uint64_t ticks = area.plots().tickCount();
  const uint64_t paints = area.mag().paintCount();
  area.base().show();
  EXPECT_TRUE(
      guitest::processEventsUntil([&] { return area.plots().tickCount() > ticks + 2; }, 10000));
  EXPECT_TRUE(guitest::processEventsUntil([&] { return area.mag().paintCount() > paints; }, 10000));
  area.controller().stop();
  EXPECT_FALSE(area.plots().updateTimer()->isValid());
  EXPECT_FALSE(area.phase().isAnimating());
}

TEST(PlotControllerTimerTest, StartWithoutLiveChartsSchedulesNothing) {
  qv::test::TempFolder folder;
  TraceManager store(folder.path());
  auto session =
      std::make_shared<session::MeasurementSession>(session::MeasurementSession::Config{});
  SpectrumPlotView mag;
  SpectrumPlotView phase;
  QVPlotController::Options options;
  options.traceManager = &store;
  QVPlotController controller(session, &mag, &phase, options);
  session->model().tfDataSource()->updateAVGfactors();
  const float weight = averagingWeight(session->model());

  controller.startAnimating();
  EXPECT_FALSE(session->displayRunning());
  EXPECT_EQ(controller.updateTimer(), nullptr);
  EXPECT_FALSE(mag.isAnimating());
  EXPECT_EQ(averagingWeight(session->model()), weight);  // not reset
}

TEST(PlotControllerTimerTest, ControllerGoingWhileTicksRunLeavesNothingBehind) {
  auto area = std::make_unique<guitest::PlotArea>();
  area->build();
  area->controller().start();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return area->plots().tickCount() >= 2; }, 10000));
  area.reset();
  guitest::processEventsFor(200);  // redraw requests still queued for it are dropped
}

}  // namespace
}  // namespace qv::gui
