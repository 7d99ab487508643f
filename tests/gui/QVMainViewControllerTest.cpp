// The measurement view's rules: what start-up restores, the delay rules, the acceptance
// of a delay finder result, automatic delay, device changes and clearing traces.
// Core headers before Qt's (see support/MainViewFixture.h).
// clang-format off
#include "audio/QVRecorder.h"
#include "delay/QVDelayFinder.h"
#include "session/MeasurementSession.h"
#include "plot/Chart.h"
#include "support/MainViewFixture.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/display/QVPlotViewController.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
// clang-format on

namespace qv::gui::test {
namespace {

using StartUpTest = MainViewFixture;

TEST_F(StartUpTest, FirstLaunchGivesSmoothing24NoGeneratorAndArmedAutoDelay) {
  auto& view = makeView();
  EXPECT_EQ(view.plotController()->smoothing(), 24);
  EXPECT_EQ(view.outlets().smoothingCombo->currentText(), "1/24");
  EXPECT_FALSE(view.generatorOn());
  EXPECT_TRUE(view.autoInsertDelay());
  EXPECT_FALSE(view.outlets().delayTextField->isEnabled()) << "the finder owns the delay";
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: 0.00 ms, Coh: 0.0");
}

TEST_F(StartUpTest, StoredChoicesAreRestoredButNeitherAStrangeSmoothingNorTheGenerator) {
  settings().setSmoothingFactor(7);
  settings().setShowImpulseView(true);
  settings().setAutoDelayOn(false);
  settings().setGeneratorOn(true);
  auto& view = makeView();
  EXPECT_EQ(settings().smoothingFactor(), 24) << "repaired and written back";
  EXPECT_EQ(view.plotController()->smoothing(), 24);
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/24");
  EXPECT_TRUE(view.plotViewController()->showImpulsePlot());
  EXPECT_FALSE(view.autoInsertDelay());
  EXPECT_TRUE(view.outlets().delayTextField->isEnabled());
  EXPECT_FALSE(settings().generatorOn());
}

class StoredDelayTest : public MainViewFixture,
                        public ::testing::WithParamInterface<std::pair<float, bool>> {};

TEST_P(StoredDelayTest, OnlyDelaysFromOneHundredthToOneSecondAreRestored) {
  const auto [stored, applied] = GetParam();
  settings().setDelayValueMS(stored);
  auto& view = makeView();
  EXPECT_EQ(view.delayMS(), applied ? stored : 0.0f);
  // Left in the store as it was (one past a second reads as the default there).
  EXPECT_EQ(settings().defaults().value("QVCurrentDelayMS").toFloat(), stored);
}

// 0.01 as a float is 0.0099999998, just below the limit.
INSTANTIATE_TEST_SUITE_P(Limits, StoredDelayTest,
                         ::testing::Values(std::pair{0.005f, false}, std::pair{12.5f, true},
                                           std::pair{0.01f, false}, std::pair{0.011f, true},
                                           std::pair{-4.0f, false}, std::pair{1000.0f, true},
                                           std::pair{1000.5f, false}));

using DelayTest = MainViewFixture;

TEST_F(DelayTest, TinyDelaysBecomeZeroNegativeOnesStayAndNaNIsRefused) {
  auto& view = makeView();
  view.setDelayMS(-0.005f);
  EXPECT_EQ(view.delayMS(), 0.0f);
  view.setDelayMS(0.009f);  // 0.0089999996 as a float
  EXPECT_EQ(view.delayMS(), 0.0f);
  view.setDelayMS(0.01f);
  EXPECT_EQ(view.delayMS(), 0.01f);
  view.setDelayMS(-2.5f);
  view.setDelayMS(std::nanf(""));
  EXPECT_EQ(view.delayMS(), -2.5f);
  EXPECT_EQ(settings().delayValueMS(), -2.5f);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: -2.50 ms, Coh: 0.0");
  EXPECT_EQ(view.outlets().delayTextField->text(), "-2.50");
}

TEST_F(DelayTest, TheFieldSetsTheDelayAndShowsItAgainAfterNonsense) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  QLineEdit* field = view.outlets().delayTextField;
  for (const char* text : {"7.25", "-"}) {
    field->setText(text);
    field->setModified(true);
    emit field->editingFinished();
  }
  EXPECT_EQ(view.delayMS(), 7.25f);
  EXPECT_EQ(field->text(), "7.25");
}

// Results as the finder publishes them into the session; they reach the view through
// the main queue.
class FinderResultTest : public MainViewFixture {
 protected:
  std::vector<float> impulse = std::vector<float>(1024, 0.0f);
  static void publish(QVMainViewController& view, const std::vector<float>& impulse, float delay,
                      float coherence) {
    view.session().publishFinderResult(impulse.data(), 1024, delay, coherence);
  }
  void deliver(QVMainViewController& view, float delay, float coherence) {
    publish(view, impulse, delay, coherence);
    guitest::processEventsFor(30);
  }
};

TEST_F(FinderResultTest, OnlyAConfidentPlausibleResultSetsTheDelayRoundedUp) {
  auto& view = makeView();
  deliver(view, 0.0050001f, 0.5f);
  EXPECT_FLOAT_EQ(view.delayMS(), 5.01f) << "up, not to the nearest hundredth";
  deliver(view, 0.0123456f, 0.5f);
  EXPECT_FLOAT_EQ(view.delayMS(), 12.35f);
  EXPECT_FLOAT_EQ(settings().delayValueMS(), 12.35f);
  deliver(view, 0.002f, 0.1f);
  deliver(view, 3.5f, 0.9f);
  deliver(view, std::nanf(""), 0.9f);
  EXPECT_FLOAT_EQ(view.delayMS(), 12.35f);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: 12.35 ms, Coh: 0.9");
}

TEST_F(FinderResultTest, NothingIsInsertedWhileAutomaticDelayIsOff) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  deliver(view, 0.0123456f, 0.9f);
  EXPECT_EQ(view.delayMS(), 0.0f);
  EXPECT_FLOAT_EQ(view.delayCoherence(), 0.9f);
}

TEST_F(FinderResultTest, TheImpulseIsCopiedAndABurstEndsWithTheNewest) {
  auto& view = makeView();
  impulse[132] = 0.8f;
  publish(view, impulse, 0.010f, 0.5f);
  publish(view, impulse, 0.020f, 0.6f);
  std::fill(impulse.begin(), impulse.end(), -1.0f);  // the finder reuses its buffer
  guitest::processEventsFor(30);
  plot::ChartSnapshot shot;
  view.plotController()->liveImpChart()->chartPtr()->snapshot(shot);
  ASSERT_EQ(shot.values.size(), 1024u);
  EXPECT_EQ(shot.values[132], 0.8f);
  EXPECT_FLOAT_EQ(view.delayMS(), 20.0f);
}

using RunningTest = MainViewFixture;

TEST_F(RunningTest, StartBuildsTheRecorderWithMeasurementThenReference) {
  settings().setAutoDelayOn(false);
  auto& view = startedView();
  ASSERT_NE(view.session().recorder(), nullptr);
  EXPECT_EQ(view.session().recorder()->channelMap(), (std::vector<int32_t>{0, 1}));
  EXPECT_NE(view.session().recorder()->inputChannel(), 0u);
  EXPECT_TRUE(settings().runningOnStart());
  EXPECT_TRUE(view.outlets().startButton->isChecked());
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System (44100 Hz)");
  EXPECT_EQ(view.session().delayFinder(), nullptr);
  settings().setMeasChannelIndex(1);
  settings().setRefChannelIndex(0);
  EXPECT_EQ(view.session().recorder()->channelMap(), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(view.outlets().levelLegendTop->text(), "ref");
}

TEST_F(RunningTest, StartTwiceIsLoggedStopKeepsRunningOnStartPauseDoesNot) {
  auto& view = startedView();
  auto* recorder = view.session().recorder().get();
  view.startAnalysis();
  EXPECT_TRUE(logged("PlotController: already started"));
  view.stop();
  EXPECT_FALSE(view.started());
  EXPECT_TRUE(settings().runningOnStart());
  EXPECT_FALSE(view.outlets().startButton->isChecked());
  view.onStartStop();
  EXPECT_EQ(view.session().recorder().get(), recorder) << "a stop keeps the recorder";
  view.onStartStop();
  EXPECT_FALSE(view.started());
  EXPECT_FALSE(settings().runningOnStart());
}

TEST_F(RunningTest, AutomaticDelayToggledWhileStoppedOnlyArmsIt) {
  settings().setAutoDelayOn(false);
  useVirtualDevices();
  auto& view = makeView();
  view.onAutoDelay();
  EXPECT_TRUE(settings().autoDelayOn());
  EXPECT_EQ(view.session().delayFinder(), nullptr);
  view.startAnalysis();
  ASSERT_NE(view.session().delayFinder(), nullptr);
  EXPECT_TRUE(view.session().delayFinder()->isRunning());
  auto finder = view.session().delayFinder();
  view.stop();  // keeps the finder for the next start
  EXPECT_FALSE(finder->isRunning());
  view.startAnalysis();
  EXPECT_EQ(view.session().delayFinder(), finder);
  EXPECT_TRUE(finder->isRunning());
}

TEST_F(RunningTest, TheStepperStopsTheFinderAndTakesOverTheDelay) {
  auto& view = startedView();
  ASSERT_NE(view.session().delayFinder(), nullptr);
  view.outlets().delayStepper->upButton()->click();
  EXPECT_EQ(view.session().delayFinder(), nullptr);
  EXPECT_FALSE(view.autoInsertDelay());
  EXPECT_FALSE(settings().autoDelayOn());
  EXPECT_FLOAT_EQ(view.delayMS(), 0.1f);
  EXPECT_TRUE(view.outlets().delayTextField->isEnabled());
  view.outlets().autoDelayButton->click();
  ASSERT_NE(view.session().delayFinder(), nullptr);
  EXPECT_TRUE(view.session().delayFinder()->isRunning());
}

TEST_F(RunningTest, ANewInputDeviceRestartsARunningAnalysisAndOnlyDropsAStoppedOne) {
  auto& view = startedView();
  std::weak_ptr<QVRecorder> old = view.session().recorder();
  settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
  EXPECT_TRUE(old.expired());
  ASSERT_NE(view.session().recorder(), nullptr);
  EXPECT_TRUE(view.started());
  EXPECT_NE(view.session().recorder()->inputChannel(), 0u);
  EXPECT_TRUE(view.session().delayFinder()->isRunning());
  view.stop();
  settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
  EXPECT_EQ(view.session().recorder(), nullptr);
  EXPECT_FALSE(view.started());
  // Stopped: the rate the device runs at by itself.
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System (44100 Hz)");
}

TEST_F(RunningTest, TheGeneratorFollowsTheOutputDevice) {
  useVirtualDevices();
  auto& view = makeView();
  view.outlets().generatorButton->click();
  EXPECT_TRUE(view.generatorOn());
  EXPECT_TRUE(settings().generatorOn());
  settings().setPreferredPlaybackDeviceUUID(kVirtualDevice);
  EXPECT_TRUE(view.generatorOn()) << "restarted on the new output";
  view.outlets().generatorButton->click();
  EXPECT_FALSE(settings().generatorOn());
  EXPECT_FALSE(view.outlets().generatorButton->isChecked());
}

using LabelsTest = MainViewFixture;

TEST_F(LabelsTest, TheDeviceLabelNeedsADeviceAndOpensThePreferences) {
  auto& view = makeView();
  EXPECT_EQ(view.outlets().inputLabel->text(), "");
  settings().setPreferredRecordingDeviceUUID("no such device");
  EXPECT_EQ(view.outlets().inputLabel->text(), "");
  int opened = 0;
  view.setOpenPreferencesCallback([&] { ++opened; });
  view.outlets().inputLabel->resize(50, 20);
  QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view.outlets().inputLabel, &click);
  EXPECT_EQ(opened, 1);
}

TEST_F(LabelsTest, TheCursorReadoutKeepsItsSpacing) {
  settings().setSmoothingFactor(12);
  auto& view = makeView();
  NotificationCenter::defaultCenter().post("QVCursorMoved",
                                           std::vector<float>{1000.0f, -6.0f, 12.0f, 98.0f});
  EXPECT_EQ(view.outlets().cursorLabel->text(),
            QString::fromUtf8("1000 Hz     -6.0 dB      12\u00B0     98 %      1/12"));
  NotificationCenter::defaultCenter().post("QVCursorMoved", std::vector<float>{1.0f, 2.0f});
  EXPECT_TRUE(view.outlets().cursorLabel->text().startsWith("1000 Hz"));
}

using ClearAllTest = MainViewFixture;

TEST_F(ClearAllTest, AnEmptyStoreAsksNothingAndOnlyOkDeletes) {
  auto& view = makeView();
  view.clearAllTraces();
  EXPECT_TRUE(asker_->questions.empty());
  storeTrace();
  storeTrace();
  view.clearAllTraces();
  ASSERT_EQ(asker_->questions.size(), 1);
  EXPECT_EQ(asker_->questions[0],
            "Delete all captured traces? | This will delete all captured traces completely");
  EXPECT_EQ(traces().allTraceShots().count(), 2u);
  asker_->answer = true;
  view.clearAllTraces();
  EXPECT_TRUE(traces().allTraceShots().empty());
}

// A full disk (the store's page limit fails a write as a full disk does) used to leave the
// window silent: only the log said the capture was lost.
TEST_F(ClearAllTest, ACaptureTheStoreRefusesIsToldInTheWindowUntilOneIsStored) {
  auto& view = makeView();
  storeTrace();
  traces().setPageLimit(4);
  view.captureAction()->trigger();
  const QLabel* notice = view.outlets().noticeLabel;
  ASSERT_TRUE(guitest::processEventsUntil([&] { return !notice->isHidden(); }, 5000));
  EXPECT_TRUE(notice->text().startsWith("The trace was not saved: the disk holding"))
      << notice->text().toStdString();
  EXPECT_TRUE(notice->text().endsWith("is full.")) << notice->text().toStdString();
  EXPECT_TRUE(logged("Error in Realm transaction"));
  EXPECT_EQ(traces().allTraceShots().count(), 1u);

  traces().setPageLimit(0);
  view.captureAction()->trigger();
  ASSERT_TRUE(tracesBecome(2));
  EXPECT_TRUE(guitest::processEventsUntil([&] { return notice->isHidden(); }, 2000));
}

}  // namespace
}  // namespace qv::gui::test
