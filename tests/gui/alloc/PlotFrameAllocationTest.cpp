// A frame of the measurement views must not allocate once they run: the magnitude, phase and
// impulse views with their labels in columns, new curves and a new impulse every frame.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gui/support/DisplayTestSupport.h"
#include "session/DelaySnapshot.h"
#include "support/CountedAllocations.h"

namespace qv::gui {
namespace {

TEST(PlotFrameAllocationTest, MeasurementViewFramesAllocateNothingOnceRunning) {
  QV_SKIP_UNLESS_ALLOCATIONS_COUNTED();
  guitest::PlotArea area(1200, 700);
  area.build();
  area.controller().setShowImpulsePlot(true);
  QVPlotController& plots = area.plots();
  const int32_t bands = guitest::PlotArea::bandCount();
  std::vector<float> curve(static_cast<size_t>(bands));
  session::DelaySnapshot impulse;
  impulse.buffer.assign(2048, 0.0f);
  impulse.points = 2048;
  impulse.impulseStart = 133 - 1024;
  area.controller().plotViewCursorMoved(&area.mag(), {3.0, 0.0});

  const auto frame = [&](int n) {
    for (size_t i = 0; i < curve.size(); ++i)
      curve[i] = static_cast<float>(10.0 * std::sin(0.01 * static_cast<double>(i) + n));
    for (const auto& proxy : {plots.liveMagChart(), plots.livePhaseChart(), plots.liveCohChart()})
      proxy->chartPtr()->setData(curve.data(), bands);
    impulse.buffer[1024] = 0.5f + 0.01f * static_cast<float>(n % 7);
    plots.showImpulse(impulse);
    for (SpectrumPlotView* view : {&area.mag(), &area.phase(), &area.impulse()})
      (void)view->renderImage(2.0);
  };
  for (int n = 0; n < 6; ++n) frame(n);  // buffers and the static layers reach their size
  const long before = gAllocations.load();
  tCounting = true;
  for (int n = 6; n < 36; ++n) frame(n);
  tCounting = false;
  EXPECT_EQ(gAllocations.load() - before, 0);
}

}  // namespace
}  // namespace qv::gui
