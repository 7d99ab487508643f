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

}  // namespace
}  // namespace qv::gui::test
