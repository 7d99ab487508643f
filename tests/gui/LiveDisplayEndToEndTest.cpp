// The live display end to end: the virtual sound system plays its pink noise through its
// room in real time, the measurement session records it for its model and its delay
// finder, inserts the delay it accepts, and a window shows the three views and the level
// meter for about three seconds. The magnitude curve must be drawn where the session's
// snapshot says (the room's direct sound arrives at half amplitude: about -6 dB), the
// coherence curve must be drawn, and the meter must show a level. The screenshot is kept
// for a person to look at.
#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

#include "gui/display/QVLevelMeterView.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

bool isBright(QColor c) { return c.red() > 180 && c.green() > 180 && c.blue() > 180; }

TEST(LiveDisplayEndToEndTest, VirtualRoomShowsItsCurvesAndLevels) {
  AudioLibrary library(guitest::VirtualRoom::options(false));
  // A window as the main window arranges it: the meter above the plot area (the window
  // goes after the area, which owns the base view it lends to the window's layout).
  QWidget window;
  guitest::PlotArea area(1200, 756, 4, nullptr, &library);
  window.resize(1200, 800);
  window.setStyleSheet("background-color: black; color: #dcdcdc;");
  auto* column = new QVBoxLayout(&window);
  column->setContentsMargins(0, 0, 0, 0);
  auto* meter = new QVLevelMeterView(library);
  meter->setFixedSize(240, 36);
  column->addWidget(meter);
  column->addWidget(&area.base(), 1);
  area.build();
  area.controller().setShowImpulsePlot(true);
  window.show();

  QVPlotController& plots = area.plots();
  session::MeasurementSession& session = area.session();
  session.setChannelMap(0, 1);
  session.setAutoInsertDelay(true);
  // What the main window does with the finder's results: the impulse into its view.
  int acceptedReadings = 0;
  session.setDelayListener([&](const session::DelaySnapshot& result, bool accepted) {
    plots.showImpulse(result);
    acceptedReadings += accepted;
  });
  ASSERT_TRUE(session.startCapture("Virtual:Virtual Sound System"));
  ASSERT_TRUE(session.startDelayFinder());
  EXPECT_TRUE(area.mag().isAnimating()) << "the display runs while the capture does";
  meter->setChannel(session.inputChannel());

  // The finder needs a window (1.5 s) and a few readings; then the averages settle with
  // the delay in place.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return acceptedReadings >= 1; }, 20000));
  guitest::processEventsFor(1500);
  const QString screenshot = guitest::saveScreenshot(window, "live-display-virtual-room");
  const QImage meterImage = meter->grab().toImage();
  session.stopCapture();
  meter->setChannel(0);
  EXPECT_FALSE(area.mag().isAnimating());
  EXPECT_NEAR(plots.delay(), 3.0133, 0.005);
  session::MeasurementSession::updateQueue()->sync([] {});  // the last tick is done
  plots.updatePlots();                                      // and its snapshot in the charts

  // The magnitude curve over 1–2 kHz: the values drawn and the pixels they became.
  SpectrumPlotView& mag = area.mag();
  plot::ChartSnapshot drawn;
  plots.liveMagChart()->chart()->snapshot(drawn);
  const QImage magImage = mag.renderImage(1.0);
  const auto snapshot = session.latestDisplay();
  const LinToLogTransformer& axis = session.axis();
  const auto first = static_cast<int32_t>(std::ceil(axis.bandIndexForFreq(1000.0f)));
  const auto last = static_cast<int32_t>(std::floor(axis.bandIndexForFreq(2000.0f)));
  int bands = 0;
  int onCurve = 0;
  double sum = 0;
  for (int32_t b = first; b <= last; ++b) {
    const float value = drawn.values[static_cast<size_t>(b)];
    ASSERT_EQ(value, snapshot->magnitude[static_cast<size_t>(b)]);
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
