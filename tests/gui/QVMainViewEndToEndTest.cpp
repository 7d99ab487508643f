// The measurement view on the virtual sound system, as a user runs it: automatic delay
// finds the room's 3.02 ms, the curves move, and a capture lands in the database.
// Core headers before Qt's (see support/MainViewFixture.h).
// clang-format off
#include "traces/TraceFolders.h"
#include "support/MainViewFixture.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"

#include <QLabel>
#include <QMouseEvent>
#include <cmath>
#include <filesystem>
// clang-format on

namespace qv::gui::test {
namespace {

class EndToEndTest : public MainViewFixture {
 protected:
  QVMainViewController& runningView() {
    useVirtualDevices();
    auto& view = makeView();
    view.resize(1200, 820);
    view.show();
    view.setDeviceManager(scannedDeviceManager());
    view.startAnalysis();
    return view;
  }
};

TEST_F(EndToEndTest, AutomaticDelayFindsTheRoomAndACaptureIsStored) {
  settings().setShowImpulseView(true);
  auto& view = runningView();
  QLabel* readout = view.outlets().topLabel;
  // The room delays the microphone by 133 samples as the finder reads it: 3.016 ms,
  // inserted rounded up to the next hundredth.
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return readout->text().startsWith("Dly: 3.02 ms"); }, 10000))
      << readout->text().toStdString();
  EXPECT_FLOAT_EQ(view.delayMS(), 3.02f);
  EXPECT_FLOAT_EQ(settings().delayValueMS(), 3.02f);
  EXPECT_GT(view.delayCoherence(), 0.5f);

  // Let the averages settle with the delay in place, then point at 1 kHz.
  guitest::processEventsFor(1500);
  auto* mag = view.plotViewController()->magPlotView();
  const QPointF at = mag->widgetPointForValue(QPointF(3.0, 0.0));
  QMouseEvent move(QEvent::MouseMove, at, mag->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(mag, &move);
  guitest::processEventsFor(100);
  guitest::saveScreenshot(view, "mainview-running-impulse");
  EXPECT_TRUE(view.outlets().cursorLabel->text().contains(" Hz     ")) << "no cursor readout";

  view.captureAction()->trigger();
  ASSERT_TRUE(
      guitest::processEventsUntil([] { return traces().allTraceShots().count() == 1; }, 5000));
  // Another connection to the same file sees the committed trace.
  TraceManager reader(std::filesystem::path(traces().databasePath()).parent_path().string());
  reader.start();
  ASSERT_EQ(reader.allTraceShots().count(), 1u);
  const TraceShot& shot = reader.allTraceShots()[0];
  EXPECT_EQ(shot.name.value_or(""), "TF");
  ASSERT_TRUE(shot.magnitudeData.has_value());
  const auto magnitude = TraceShot::floatsFromBlob(*shot.magnitudeData);
  EXPECT_GT(magnitude.size(), 1000u);
  // The room passes between 0.5 − 0.2 and 0.5 + 0.2 of the reference in its pass band
  // (direct sound and one reflection): −10.5 dB to −3.1 dB, a little wider for smoothing.
  size_t inBand = 0;
  for (float m : magnitude)
    if (std::isfinite(m) && m > -13.0f && m < -1.0f) ++inBand;
  EXPECT_GT(inBand, magnitude.size() / 2);
  EXPECT_TRUE(shot.comment.value_or("").find("delay: 3.02 ms") != std::string::npos)
      << shot.comment.value_or("");

  view.onShowImpulcePlot(nullptr);
  guitest::processEventsFor(300);
  guitest::saveScreenshot(view, "mainview-running");
  view.pause();
  EXPECT_FALSE(view.started());
}

}  // namespace
}  // namespace qv::gui::test
