// The measurement view's rules: what start-up restores, the delay rules, the acceptance
// of a delay finder result, automatic delay, device changes and clearing traces.
// Core headers before Qt's (see support/MainViewFixture.h).
// clang-format off
#include "audio/QVRecorder.h"
#include "delay/QVDelayFinder.h"
#include "engine/TransferFunctionModel.h"
#include "plot/Chart.h"
#include "support/MainViewFixture.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/display/QVPlotController.h"
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
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/24");
  EXPECT_EQ(view.outlets().smoothingCombo->currentText(), "1/24");
  EXPECT_FALSE(view.generatorOn());
  EXPECT_FALSE(settings().generatorOn());
  EXPECT_TRUE(view.autoInsertDelay());
  EXPECT_FALSE(view.outlets().delayTextField->isEnabled()) << "the finder owns the delay";
  EXPECT_TRUE(view.outlets().autoDelayButton->isChecked());
  EXPECT_FALSE(view.started());
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: 0.00 ms, Coh: 0.0");
}

TEST_F(StartUpTest, SmoothingOutsideTheCatalogueIsRepairedTo24AndWrittenBack) {
  settings().setSmoothingFactor(7);
  auto& view = makeView();
  EXPECT_EQ(settings().smoothingFactor(), 24);
  EXPECT_EQ(view.plotController()->smoothing(), 24);
  EXPECT_EQ(view.outlets().smoothingLabel->text(), "1/24");
}

TEST_F(StartUpTest, StoredChoicesAreRestored) {
  settings().setSmoothingFactor(6);
  settings().setShowImpulseView(true);
  settings().setAutoDelayOn(false);
  settings().setGeneratorOn(true);  // a generator never resumes by itself
  auto& view = makeView();
  EXPECT_EQ(view.plotController()->smoothing(), 6);
  EXPECT_EQ(view.outlets().smoothingCombo->currentText(), "1/6");
  EXPECT_TRUE(view.plotViewController()->showImpulsePlot());
  EXPECT_FALSE(view.autoInsertDelay());
  EXPECT_TRUE(view.outlets().delayTextField->isEnabled());
  EXPECT_FALSE(settings().generatorOn());
  EXPECT_FALSE(view.generatorOn());
}

struct StoredDelay {
  float stored;
  bool applied;
};

class StoredDelayTest : public MainViewFixture,
                        public ::testing::WithParamInterface<StoredDelay> {};

TEST_P(StoredDelayTest, OnlyDelaysFromOneHundredthToOneSecondAreRestored) {
  settings().setDelayValueMS(GetParam().stored);
  auto& view = makeView();
  EXPECT_EQ(view.delayMS(), GetParam().applied ? GetParam().stored : 0.0f);
  // A delay left alone stays as stored.
  EXPECT_EQ(settings().delayValueMS(), GetParam().stored);
}

// 0.01 as a float is 0.0099999998, just below the limit, so it is not restored.
INSTANTIATE_TEST_SUITE_P(Limits, StoredDelayTest,
                         ::testing::Values(StoredDelay{0.005f, false}, StoredDelay{12.5f, true},
                                           StoredDelay{0.01f, false}, StoredDelay{0.011f, true},
                                           StoredDelay{-4.0f, false}, StoredDelay{1000.0f, true},
                                           StoredDelay{1000.5f, false}),
                         [](const auto& info) {
                           const QString ms = QString::number(info.param.stored);
                           return "Stored_" +
                                  QString(ms).replace('.', '_').replace('-', 'm').toStdString() +
                                  "ms";
                         });

using DelayTest = MainViewFixture;

TEST_F(DelayTest, TinyDelaysBecomeZeroAndNegativeOnesAreKept) {
  auto& view = makeView();
  view.setDelayMS(-0.005f);
  EXPECT_EQ(view.delayMS(), 0.0f);
  view.setDelayMS(0.009f);  // 0.0089999996 as a float
  EXPECT_EQ(view.delayMS(), 0.0f);
  EXPECT_EQ(settings().delayValueMS(), 0.0f);
  view.setDelayMS(0.01f);
  EXPECT_EQ(view.delayMS(), 0.01f);
  view.setDelayMS(-2.5f);
  EXPECT_EQ(view.delayMS(), -2.5f);
  EXPECT_EQ(settings().delayValueMS(), -2.5f);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: -2.50 ms, Coh: 0.0");
  EXPECT_EQ(view.outlets().delayTextField->text(), "-2.50");
}

TEST_F(DelayTest, ANonFiniteDelayIsRefused) {
  auto& view = makeView();
  view.setDelayMS(4.0f);
  view.setDelayMS(std::nanf(""));
  EXPECT_EQ(view.delayMS(), 4.0f);
  EXPECT_EQ(settings().delayValueMS(), 4.0f);
}

TEST_F(DelayTest, TheDelayFieldSetsTheDelayWhenEditingEnds) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  QLineEdit* field = view.outlets().delayTextField;
  field->setText("7.25");
  field->setModified(true);
  emit field->editingFinished();
  EXPECT_EQ(view.delayMS(), 7.25f);
  field->setText("-");  // not a number: the field shows the delay again
  field->setModified(true);
  emit field->editingFinished();
  EXPECT_EQ(view.delayMS(), 7.25f);
  EXPECT_EQ(field->text(), "7.25");
}

class FinderResultTest : public MainViewFixture {
 protected:
  // An impulse with its peak where a 3 ms delay would put it.
  std::vector<float> impulse = std::vector<float>(1024, 0.0f);
  void SetUp() override {
    MainViewFixture::SetUp();
    impulse[132] = 0.8f;
  }
  void deliver(QVMainViewController& view, float delay, float coherence) {
    view.delayFinderResult(impulse.data(), static_cast<int32_t>(impulse.size()), delay, coherence);
    guitest::processEventsFor(30);
  }
};

TEST_F(FinderResultTest, AConfidentResultSetsTheDelayRoundedUpToAHundredth) {
  auto& view = makeView();
  deliver(view, 0.0123456f, 0.5f);
  EXPECT_FLOAT_EQ(view.delayMS(), 12.35f);
  EXPECT_FLOAT_EQ(settings().delayValueMS(), 12.35f);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: 12.35 ms, Coh: 0.5");
}

TEST_F(FinderResultTest, LowCoherenceOrAnImplausibleDelayOnlyUpdatesTheReadout) {
  auto& view = makeView();
  view.setDelayMS(1.0f);
  deliver(view, 0.0123456f, 0.1f);
  EXPECT_EQ(view.delayMS(), 1.0f);
  EXPECT_FLOAT_EQ(view.delayCoherence(), 0.1f);
  deliver(view, 3.5f, 0.9f);
  EXPECT_EQ(view.delayMS(), 1.0f);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: 1.00 ms, Coh: 0.9");
  deliver(view, std::nanf(""), 0.9f);
  EXPECT_EQ(view.delayMS(), 1.0f);
}

TEST_F(FinderResultTest, NothingIsInsertedWhileAutomaticDelayIsOff) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  deliver(view, 0.0123456f, 0.9f);
  EXPECT_EQ(view.delayMS(), 0.0f);
  EXPECT_FLOAT_EQ(view.delayCoherence(), 0.9f);
}

TEST_F(FinderResultTest, TheImpulseIsCopiedBeforeTheFinderReusesItsBuffer) {
  auto& view = makeView();
  view.delayFinderResult(impulse.data(), static_cast<int32_t>(impulse.size()), 0.003f, 0.5f);
  std::fill(impulse.begin(), impulse.end(), -1.0f);  // the finder's next result
  guitest::processEventsFor(30);
  plot::ChartSnapshot shot;
  view.plotController()->liveImpChart()->chartPtr()->snapshot(shot);
  ASSERT_EQ(shot.values.size(), 1024u);
  EXPECT_EQ(shot.values[132], 0.8f);
  EXPECT_EQ(shot.values[0], 0.0f);
}

TEST_F(FinderResultTest, ABurstOfResultsEndsWithTheNewest) {
  auto& view = makeView();
  view.delayFinderResult(impulse.data(), 1024, 0.010f, 0.5f);
  view.delayFinderResult(impulse.data(), 1024, 0.020f, 0.6f);
  guitest::processEventsFor(30);
  EXPECT_FLOAT_EQ(view.delayMS(), 20.0f);
  EXPECT_FLOAT_EQ(view.delayCoherence(), 0.6f);
}

class RunningTest : public MainViewFixture {
 protected:
  QVMainViewController& startedView() {
    useVirtualDevices();
    auto& view = makeView();
    view.setDeviceManager(scannedDeviceManager());
    view.startAnalysis();
    return view;
  }
};

TEST_F(RunningTest, StartBuildsTheRecorderWithMeasurementThenReference) {
  settings().setAutoDelayOn(false);
  auto& view = startedView();
  EXPECT_TRUE(view.started());
  ASSERT_NE(view.recorder(), nullptr);
  EXPECT_EQ(view.recorder()->channelMap(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(view.recorder()->samplingRate(), 44100u);
  EXPECT_NE(view.recorder()->inputChannel(), 0u);
  EXPECT_TRUE(settings().runningOnStart());
  EXPECT_TRUE(view.outlets().startButton->isChecked());
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System 44100 Hz");
  EXPECT_EQ(view.delayFinderController(), nullptr);

  settings().setMeasChannelIndex(1);
  settings().setRefChannelIndex(0);
  EXPECT_EQ(view.recorder()->channelMap(), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(view.outlets().levelLegendTop->text(), "ref");
}

TEST_F(RunningTest, StartingTwiceIsLoggedAndKeepsTheRecorder) {
  auto& view = startedView();
  auto* recorder = view.recorder().get();
  view.startAnalysis();
  EXPECT_TRUE(logged("PlotController: already started"));
  EXPECT_EQ(view.recorder().get(), recorder);
}

TEST_F(RunningTest, PauseRemembersStoppedButStopDoesNot) {
  auto& view = startedView();
  view.stop();
  EXPECT_FALSE(view.started());
  EXPECT_TRUE(settings().runningOnStart());
  EXPECT_NE(view.recorder(), nullptr) << "a stop keeps the recorder for the next start";
  EXPECT_FALSE(view.outlets().startButton->isChecked());
  view.startAnalysis();
  view.pause();
  EXPECT_FALSE(settings().runningOnStart());
  view.onStartStop();
  EXPECT_TRUE(view.started());
  EXPECT_TRUE(settings().runningOnStart());
}

TEST_F(RunningTest, AutomaticDelayToggledWhileStoppedOnlyArmsIt) {
  settings().setAutoDelayOn(false);
  useVirtualDevices();
  auto& view = makeView();
  view.onAutoDelay();
  EXPECT_TRUE(settings().autoDelayOn());
  EXPECT_TRUE(view.autoInsertDelay());
  EXPECT_EQ(view.delayFinderController(), nullptr);
  EXPECT_FALSE(view.outlets().delayTextField->isEnabled());
  view.startAnalysis();
  ASSERT_NE(view.delayFinderController(), nullptr);
  EXPECT_TRUE(view.delayFinderController()->isRunning());
}

TEST_F(RunningTest, AStopKeepsTheFinderAndTheNextStartRunsItAgain) {
  auto& view = startedView();
  auto finder = view.delayFinderController();
  ASSERT_NE(finder, nullptr);
  view.stop();
  EXPECT_FALSE(finder->isRunning());
  EXPECT_EQ(view.delayFinderController(), finder);
  view.startAnalysis();
  EXPECT_TRUE(finder->isRunning());
}

TEST_F(RunningTest, TheStepperStopsTheFinderAndTakesOverTheDelay) {
  auto& view = startedView();
  ASSERT_NE(view.delayFinderController(), nullptr);
  view.outlets().delayStepper->upButton()->click();
  EXPECT_EQ(view.delayFinderController(), nullptr);
  EXPECT_FALSE(view.autoInsertDelay());
  EXPECT_FALSE(settings().autoDelayOn());
  EXPECT_FLOAT_EQ(view.delayMS(), 0.1f);
  EXPECT_TRUE(view.outlets().delayTextField->isEnabled());
  EXPECT_FALSE(view.outlets().autoDelayButton->isChecked());
}

TEST_F(RunningTest, AutomaticDelayOffWhileRunningDropsTheFinder) {
  auto& view = startedView();
  view.outlets().autoDelayButton->click();
  EXPECT_EQ(view.delayFinderController(), nullptr);
  EXPECT_FALSE(settings().autoDelayOn());
  view.outlets().autoDelayButton->click();
  ASSERT_NE(view.delayFinderController(), nullptr);
  EXPECT_TRUE(view.delayFinderController()->isRunning());
  EXPECT_TRUE(settings().autoDelayOn());
}

TEST_F(RunningTest, ANewInputDeviceWhileRunningRebuildsTheRecorderAndRunsOn) {
  auto& view = startedView();
  std::weak_ptr<QVRecorder> old = view.recorder();
  settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
  EXPECT_TRUE(old.expired());
  ASSERT_NE(view.recorder(), nullptr);
  EXPECT_TRUE(view.started());
  EXPECT_NE(view.recorder()->inputChannel(), 0u);
  ASSERT_NE(view.delayFinderController(), nullptr);
  EXPECT_TRUE(view.delayFinderController()->isRunning());
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System 44100 Hz");
}

TEST_F(RunningTest, ANewInputDeviceWhileStoppedOnlyDropsTheRecorder) {
  auto& view = startedView();
  view.stop();
  settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
  EXPECT_EQ(view.recorder(), nullptr);
  EXPECT_FALSE(view.started());
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System ");
}

TEST_F(RunningTest, TheGeneratorPlaysAndFollowsTheOutputDevice) {
  useVirtualDevices();
  auto& view = makeView();
  view.outlets().generatorButton->click();
  EXPECT_TRUE(view.generatorOn());
  EXPECT_TRUE(settings().generatorOn());
  EXPECT_TRUE(view.outlets().generatorButton->isChecked());
  settings().setPreferredPlaybackDeviceUUID(kVirtualDevice);
  EXPECT_TRUE(view.generatorOn()) << "restarted on the new output";
  view.toggleGenerator();
  EXPECT_FALSE(view.generatorOn());
  EXPECT_FALSE(settings().generatorOn());
}

using DeviceLabelTest = MainViewFixture;

TEST_F(DeviceLabelTest, EmptyWithoutADeviceAndNameWithASpaceBeforeTheFirstStart) {
  auto& view = makeView();
  EXPECT_EQ(view.outlets().inputLabel->text(), "");
  settings().setPreferredRecordingDeviceUUID(kVirtualDevice);
  EXPECT_EQ(view.outlets().inputLabel->text(), "Virtual Sound System ");
  settings().setPreferredRecordingDeviceUUID("no such device");
  EXPECT_EQ(view.outlets().inputLabel->text(), " ");
}

TEST_F(DeviceLabelTest, AClickOnTheDeviceLabelAsksForThePreferences) {
  auto& view = makeView();
  int opened = 0;
  view.setOpenPreferencesCallback([&] { ++opened; });
  QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::NoButton, Qt::NoModifier);
  view.outlets().inputLabel->resize(50, 20);
  QApplication::sendEvent(view.outlets().inputLabel, &click);
  EXPECT_EQ(opened, 1);
}

using ClearAllTest = MainViewFixture;

TEST_F(ClearAllTest, AnEmptyStoreAsksNothing) {
  auto& view = makeView();
  view.clearAllTraces();
  EXPECT_TRUE(asker_->questions.empty());
}

TEST_F(ClearAllTest, OnlyOkDeletesEveryTrace) {
  storeTrace("one");
  storeTrace("two");
  auto& view = makeView();
  view.clearAllTraces();
  ASSERT_EQ(asker_->questions.size(), 1);
  EXPECT_EQ(asker_->questions[0],
            "Delete all captured traces? | This will delete all captured traces completely");
  EXPECT_EQ(traces().allTraceShots().count(), 2u);
  asker_->answer = true;
  view.clearAllTraces();
  EXPECT_TRUE(traces().allTraceShots().empty());
}

using CursorTest = MainViewFixture;

TEST_F(CursorTest, TheReadoutKeepsItsSpacingAndNamesTheSmoothing) {
  settings().setSmoothingFactor(12);
  auto& view = makeView();
  NotificationCenter::defaultCenter().post("QVCursorMoved",
                                           std::array<float, 4>{1000.0f, -6.0f, 12.0f, 98.0f});
  EXPECT_EQ(view.outlets().cursorLabel->text(),
            QString::fromUtf8("1000 Hz     -6.0 dB      12\u00B0     98 %      1/12"));
  // Anything but four numbers leaves the readout alone.
  NotificationCenter::defaultCenter().post("QVCursorMoved", std::vector<float>{1.0f, 2.0f});
  EXPECT_TRUE(view.outlets().cursorLabel->text().startsWith("1000 Hz"));
}

}  // namespace
}  // namespace qv::gui::test
