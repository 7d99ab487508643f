// The live display end to end: the virtual sound system plays its pink noise through its
// room in real time, the recorder feeds the plot controller's model and a delay finder, and
// a window shows the three views and the level meter for about three seconds. The
// magnitude curve must be drawn where the model's values say (the room's direct sound
// arrives at half amplitude: about -6 dB), the coherence curve must be drawn, and the
// meter must show a level. The screenshot is kept for a person to look at.
#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

#include "gui/display/QVLevelMeterView.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

#pragma push_macro("emit")
#undef emit
#include "delay/QVDelayFinder.h"
#pragma pop_macro("emit")

namespace qv::gui {
namespace {

bool isBright(QColor c) { return c.red() > 180 && c.green() > 180 && c.blue() > 180; }

TEST(LiveDisplayEndToEndTest, VirtualRoomShowsItsCurvesAndLevels) {
  guitest::VirtualRoom room(false);
  // A window as the main window arranges it: the meter above the plot area (the window
  // goes after the area, which owns the base view it lends to the window's layout).
  QWidget window;
  guitest::PlotArea area(1200, 756);
  window.resize(1200, 800);
  window.setStyleSheet("background-color: black; color: #dcdcdc;");
  auto* column = new QVBoxLayout(&window);
  column->setContentsMargins(0, 0, 0, 0);
  auto* meter = new QVLevelMeterView(room.library());
  meter->setFixedSize(240, 36);
  column->addWidget(meter);
  column->addWidget(&area.base(), 1);
  area.build();
  area.controller().setShowImpulsePlot(true);
  window.show();

  QVPlotController& plots = area.plots();
  room.feed(plots.tfModel()->tfDataSource());
  auto finder = std::make_shared<QVDelayFinder>(QVDelayFinder::kFftSize, 0);
  room.feed(finder);
  // What the main window does with the finder's results: the impulse into its view and,
  // when the reading is sure, the delay into the model.
  int sureReadings = 0;
  finder->startWithResultBlockErrorBlock(
      [&](const float* impulse, int32_t count, float delay, float coherence) {
        area.impulse().setDataOfLengthForChart(impulse, std::min(count, 16384),
                                               plots.liveImpChart()->chartPtr());
        area.impulse().update();
        if (coherence > 0.5f) {
          plots.setDelay(static_cast<float>(std::ceil(delay * 100000.0) / 100.0));
          ++sureReadings;
        }
      },
      {});
  room.recorder().resumeRec();
  meter->setChannel(room.recorder().inputChannel());
  area.controller().start();

  // The finder needs a window (1.5 s) and a few readings (a first reading from one frame
  // is always "sure"); then the averages settle with the delay in place.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return sureReadings >= 4; }, 20000));
  guitest::processEventsFor(1500);
  const QString screenshot = guitest::saveScreenshot(window, "live-display-virtual-room");
  const QImage meterImage = meter->grab().toImage();
  area.controller().stop();
  finder->stop();
  room.recorder().stopRec();
  meter->setChannel(0);
  QVPlotController::updateQueue()->sync([] {});  // the last tick is done
  EXPECT_NEAR(plots.delay(), 3.02f, 0.02f);

  // The magnitude curve over 1–2 kHz: the values drawn and the pixels they became.
  SpectrumPlotView& mag = area.mag();
  plot::ChartSnapshot drawn;
  plots.liveMagChart()->chart()->snapshot(drawn);
  const QImage magImage = mag.renderImage(1.0);
  const TransferFunctionModel& model = area.model();
  const auto first = static_cast<int32_t>(std::ceil(model.bandIndexForFreq(1000.0f)));
  const auto last = static_cast<int32_t>(std::floor(model.bandIndexForFreq(2000.0f)));
  int bands = 0;
  int onCurve = 0;
  double sum = 0;
  for (int32_t b = first; b <= last; ++b) {
    const float value = drawn.values[static_cast<size_t>(b)];
    ASSERT_EQ(value, model.mpolyline()->values()[b]);
    if (!std::isfinite(value)) continue;
    ++bands;
    sum += value;
    const QPointF p = mag.widgetPointForValue(QPointF(drawn.x.xAt(b), value));
    // A white pixel within a pixel across and four up or down of the value.
    const QRect near(static_cast<int>(std::floor(p.x())) - 1, static_cast<int>(p.y()) - 4, 3, 9);
    bool found = false;
    for (int y = near.top(); y <= near.bottom(); ++y) {
      for (int x = near.left(); x <= near.right(); ++x)
        found = found || (magImage.rect().contains(x, y) && isBright(magImage.pixelColor(x, y)));
    }
    onCurve += found;
  }
  ASSERT_GT(bands, (last - first) * 9 / 10) << "the room's coherence is high at 1-2 kHz";
  EXPECT_GE(onCurve, bands * 95 / 100) << screenshot.toStdString();
  EXPECT_NEAR(sum / bands, -6.0, 2.0);

  // The coherence curve, orange, on the phase view.
  const QImage phaseImage = area.phase().renderImage(1.0);
  int orange = 0;
  for (int y = 0; y < phaseImage.height(); ++y) {
    for (int x = 0; x < phaseImage.width(); ++x) {
      const QColor c = phaseImage.pixelColor(x, y);
      orange += c.red() > 200 && c.green() > 40 && c.green() < 120 && c.blue() < 60;
    }
  }
  EXPECT_GT(orange, phaseImage.width() / 2);

  // The meter as shown: both rows lit from the left edge, covered near full scale.
  for (int32_t row = 0; row < 2; ++row) {
    const int y = static_cast<int>(QVLevelMeterBackLayer::rowY(row, 2, meterImage.height()));
    EXPECT_EQ(meterImage.pixelColor(meterImage.width() / 10, y), QColor(0, 255, 0)) << row;
    EXPECT_LT(meterImage.pixelColor(meterImage.width() - 2, y).red(), 200) << row;
  }
}

}  // namespace
}  // namespace qv::gui
