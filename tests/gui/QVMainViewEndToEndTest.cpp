// The measurement view on the virtual sound system, as a user runs it: automatic delay
// finds the room's 3.01 ms, the curves move, and a capture lands in the database.
// clang-format off
#include "support/MainViewFixture.h"
#include "gui/display/QVPlotViewController.h"
#include <QLabel>
#include <QMouseEvent>
#include <cmath>
#include <filesystem>
// clang-format on

namespace qv::gui::test {
namespace {

using EndToEndTest = MainViewFixture;

TEST_F(EndToEndTest, AutomaticDelayFindsTheRoomAndACaptureIsStored) {
  settings().setShowImpulseView(true);
  auto& view = startedView();
  view.show();
  // The room's direct sound arrives 132 samples late, 132.885 through the loudspeaker's
  // low-pass (3.0133 ms); the finder inserts it as found.
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return std::fabs(view.delayMS() - 3.0133) < 0.005; }, 10000))
      << view.outlets().topLabel->text().toStdString();
  const double delay = view.delayMS();
  EXPECT_EQ(settings().delayValueMS(), delay);
  EXPECT_TRUE(view.outlets().topLabel->text().startsWith(QString::asprintf("Dly: %.2f ms", delay)));

  // Let the averages settle with the delay in place, then point at 1 kHz.
  guitest::processEventsFor(1500);
  auto* mag = view.plotViewController()->magPlotView();
  const QPointF at = mag->widgetPointForValue(QPointF(3.0, 0.0));
  QMouseEvent move(QEvent::MouseMove, at, mag->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(mag, &move);
  guitest::processEventsFor(100);
  guitest::saveScreenshot(view, "mainview-running-impulse");
  EXPECT_TRUE(view.outlets().cursorLabel->text().startsWith("1000 Hz     "))
      << view.outlets().cursorLabel->text().toStdString();

  view.captureAction()->trigger();
  ASSERT_TRUE(tracesBecome(1));
  // A second connection to the same file sees the committed trace.
  TraceManager reader(std::filesystem::path(traces().databasePath()).parent_path().string());
  reader.start();
  ASSERT_EQ(reader.allTraceShots().count(), 1u);
  const TraceShot& shot = reader.allTraceShots()[0];
  EXPECT_EQ(shot.name.value_or(""), "TF");
  EXPECT_NE(
      shot.comment.value_or("").find(QString::asprintf("delay: %.2f ms", delay).toStdString()),
      std::string::npos)
      << shot.comment.value_or("");
  // Direct sound (0.5) and one reflection (0.2) give −10.5 dB to −3.1 dB in the pass band.
  const auto magnitude = TraceShot::floatsFromBlob(shot.magnitudeData.value_or(Bytes{}));
  size_t inBand = 0;
  for (float m : magnitude)
    if (std::isfinite(m) && m > -13.0f && m < -1.0f) ++inBand;
  EXPECT_GT(inBand, magnitude.size() / 2);

  view.onShowImpulcePlot(nullptr);
  guitest::processEventsFor(300);
  guitest::saveScreenshot(view, "mainview-running");
}

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
