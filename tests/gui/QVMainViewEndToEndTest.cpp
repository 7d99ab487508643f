// The measurement view on the virtual sound system with the delay set by hand: the impulse
// view shows the room's arrival against the delay in force.
// clang-format off
#include "support/MainViewFixture.h"
#include "gui/display/QVPlotViewController.h"
#include <QLabel>
#include <cmath>
// clang-format on

namespace qv::gui::test {
namespace {

using EndToEndTest = MainViewFixture;

// With the delay set by hand the impulse view still shows the room, against the delay in
// force: the arrival at 3.01 ms with no delay, at 0 ms once the delay compensates it.
TEST_F(EndToEndTest, WithTheDelaySetByHandTheImpulseShowsTheArrivalAgainstIt) {
  settings().setShowImpulseView(true);
  settings().setAutoDelayOn(false);
  auto& view = startedView();
  view.show();
  const auto chart = view.plotViewController()->plotController()->liveImpChart()->chart();
  auto* impulse = view.plotViewController()->impPlotView();
  plot::ChartSnapshot s;
  const auto peakMs = [&] {
    chart->snapshot(s);
    if (s.x.count < 3 || s.values.empty()) return std::nan("");
    size_t at = 0;
    for (size_t i = 0; i < s.values.size(); ++i)
      if (std::fabs(s.values[i]) > std::fabs(s.values[at])) at = i;
    return s.x.firstX + (s.x.lastX - s.x.firstX) * static_cast<double>(at) / (s.x.count - 1);
  };
  ASSERT_TRUE(guitest::processEventsUntil([&] { return std::fabs(peakMs() - 3.01) < 0.05; }, 10000))
      << peakMs();
  EXPECT_EQ(view.delayMS(), 0.0);  // shown, not inserted
  EXPECT_FALSE(settings().autoDelayOn());
  EXPECT_TRUE(view.outlets().delayDetailLabel->text().startsWith("found (3.01 ms)"))
      << view.outlets().delayDetailLabel->text().toStdString();
  const PlotRange x = impulse->visibleRangeX();
  EXPECT_GT(peakMs(), x.min);
  EXPECT_LT(peakMs(), x.max);
  guitest::processEventsFor(300);
  guitest::saveScreenshot(view, "mainview-impulse-delay-by-hand");

  ASSERT_TRUE(view.setDelayMS(3.01));
  EXPECT_TRUE(guitest::processEventsUntil([&] { return std::fabs(peakMs()) < 0.05; }, 10000))
      << peakMs();
  EXPECT_FALSE(settings().autoDelayOn());
  // The settings as the program's other tests expect them.
  view.onShowImpulcePlot(nullptr);
  settings().setAutoDelayOn(true);
}

}  // namespace
}  // namespace qv::gui::test
