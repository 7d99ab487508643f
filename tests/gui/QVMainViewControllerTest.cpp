// The measurement view's rules: what start-up restores, the delay rules, the acceptance
// of a delay finder result, automatic delay, device changes and clearing traces.
// Core headers before Qt's (see support/MainViewFixture.h).
// clang-format off
#include "audio/QVRecorder.h"
#include "delay/DelayLocator.h"
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
#include <cstdio>
// clang-format on

namespace qv::gui::test {
namespace {

using StartUpTest = MainViewFixture;

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
                        public ::testing::WithParamInterface<std::pair<double, bool>> {};

TEST_P(StoredDelayTest, OnlyDelaysFromOneHundredthToThreeSecondsAreRestored) {
  const auto [stored, applied] = GetParam();
  settings().setDelayValueMS(stored);
  auto& view = makeView();
  EXPECT_EQ(view.delayMS(), applied ? stored : 0.0);
  // Left in the store as it was (beyond three seconds it reads as the default there).
  EXPECT_EQ(settings().defaults().value("QVCurrentDelayMS").toDouble(), stored);
}

INSTANTIATE_TEST_SUITE_P(Limits, StoredDelayTest,
                         ::testing::Values(std::pair{0.005, false}, std::pair{12.5, true},
                                           std::pair{0.0099, false}, std::pair{0.01, true},
                                           std::pair{-4.0, false}, std::pair{2999.99, true},
                                           std::pair{3000.5, false}));

using DelayTest = MainViewFixture;

// The session holds the delay's own rules; the view stores what it took and reads it out.
TEST_F(DelayTest, TheDelayTakenIsStoredAndReadOutAndARefusedOneChangesNothing) {
  auto& view = makeView();
  view.setDelayMS(0.0089);  // below a hundredth, as the field shows it: none
  EXPECT_EQ(view.delayMS(), 0.0);
  view.setDelayMS(-2.5);
  EXPECT_FALSE(view.setDelayMS(std::nan("")));
  EXPECT_EQ(settings().delayValueMS(), -2.5);
  EXPECT_EQ(view.outlets().topLabel->text(), "Dly: -2.50 ms, Coh: 0.0");
  EXPECT_EQ(view.outlets().delayTextField->text(), "-2.50");
  // 2.5 ms at 44.1 kHz: 110.25 samples, 0.86 m of air at 20 °C (343.2 m/s).
  EXPECT_EQ(view.outlets().delayDetailLabel->text(), "-110.25 smp \u00B7 -0.86 m");
}

// The field takes hundredths of a millisecond up to ±3 s; what it cannot take is refused
// visibly, and the delay in force comes back into it.
TEST_F(DelayTest, TheFieldSetsTheDelayInHundredthsAndRefusesWhatItCannotTake) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  QLineEdit* field = view.outlets().delayTextField;
  const auto enter = [&](const char* text) {
    field->setText(text);
    field->setModified(true);
    emit field->editingFinished();
  };
  enter("1234.567");
  EXPECT_EQ(view.delayMS(), 1234.57);
  EXPECT_TRUE(view.lastRefusal().isEmpty());
  for (const char* text : {"-", "3000.01", "nan", "-1e9"}) {
    enter(text);
    EXPECT_EQ(view.delayMS(), 1234.57) << text;
    EXPECT_EQ(field->text(), "1234.57") << text;
  }
  EXPECT_FALSE(view.lastRefusal().isEmpty());
  enter("-3000");
  EXPECT_EQ(view.delayMS(), -3000.0);
}

// Results as the finder publishes them into the session; they reach the view through
// the main queue, every one in order.
class FinderResultTest : public MainViewFixture {
 protected:
  static constexpr uint32_t kRate = 44100;
  std::vector<float> impulse = std::vector<float>(1024, 0.0f);
  DelayEstimate estimate(DelayState state, double delaySamples) {
    DelayEstimate e;
    e.state = state;
    e.rate = kRate;
    e.delaySamples = delaySamples;
    e.peakToNext = 6.0;
    e.meanCoherence = 0.9;
    e.topFrequencyHz = 10000.0;
    e.position = position_ += kRate / 10;
    e.midpoint = static_cast<double>(e.position) - 8192.0;
    e.impulse = impulse.data();
    e.impulseCount = 1024;
    return e;
  }
  void publish(QVMainViewController& view, DelayState state, double delaySamples, int times = 1) {
    for (int i = 0; i < times; ++i)
      view.session().publishFinderResult(estimate(state, delaySamples));
  }
  void deliver(QVMainViewController& view, DelayState state, double delaySamples, int times = 1) {
    publish(view, state, delaySamples, times);
    guitest::processEventsFor(30);
  }
  int64_t position_ = 0;
};

// The view passes the session's decision on and says what the finder saw: a found delay
// confirmed three times is inserted exactly (220.5 samples: 5.0000 ms, not rounded to a
// hundredth) and stored; unsure and out-of-range readings only change the read-out.
TEST_F(FinderResultTest, ConfirmedResultsSetTheDelayAndTheReadOutSaysWhatWasSeen) {
  auto& view = makeView();
  // Before its confirmations the reading is not the delay in force, and says where it is.
  deliver(view, DelayState::Found, 220.5);
  EXPECT_TRUE(view.outlets().delayDetailLabel->text().startsWith("found (5.00 ms) \u00B7 0.00 smp"))
      << view.outlets().delayDetailLabel->text().toStdString();
  deliver(view, DelayState::Found, 220.5, 2);
  EXPECT_DOUBLE_EQ(view.delayMS(), 5.0);
  EXPECT_DOUBLE_EQ(settings().delayValueMS(), 5.0);
  EXPECT_TRUE(view.outlets().delayDetailLabel->text().startsWith("found \u00B7 220.50 smp"))
      << view.outlets().delayDetailLabel->text().toStdString();
  deliver(view, DelayState::Unsure, -21433.8);
  EXPECT_TRUE(view.outlets().delayDetailLabel->text().startsWith("unsure"))
      << view.outlets().delayDetailLabel->text().toStdString();
  deliver(view, DelayState::OutOfRange, 4.0 * kRate);
  EXPECT_TRUE(view.outlets().delayDetailLabel->text().startsWith("out of range (4000 ms)"));
  EXPECT_DOUBLE_EQ(view.delayMS(), 5.0);
}

TEST_F(FinderResultTest, NothingIsInsertedWhileAutomaticDelayIsOff) {
  settings().setAutoDelayOn(false);
  auto& view = makeView();
  deliver(view, DelayState::Found, 544.4, 5);
  EXPECT_EQ(view.delayMS(), 0.0);
  EXPECT_FLOAT_EQ(view.delayCoherence(), 0.9f);
}

TEST_F(FinderResultTest, TheNewestImpulseOfABurstIsCopiedAndDrawnOnceTheViewShows) {
  auto& view = makeView();
  impulse[132] = 0.8f;
  publish(view, DelayState::Found, 441.0);
  publish(view, DelayState::Found, 882.0, 3);
  std::fill(impulse.begin(), impulse.end(), -1.0f);  // the finder reuses its buffer
  guitest::processEventsFor(30);
  plot::ChartSnapshot shot;
  const auto chart = view.plotController()->liveImpChart()->chartPtr();
  chart->snapshot(shot);
  EXPECT_EQ(shot.values.size(), 2u) << "the impulse view is hidden: its chart waits";
  view.show();
  view.onShowImpulcePlot(nullptr);
  chart->snapshot(shot);
  // The finder's window, its peak at 100 %, in ms against the 20 ms now inserted.
  ASSERT_EQ(shot.values.size(), 1024u);
  EXPECT_EQ(shot.values[132], 100.0f);
  EXPECT_DOUBLE_EQ(view.delayMS(), 20.0);
  EXPECT_NEAR(shot.x.firstX, -20.0, 1e-4);
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
  EXPECT_FALSE(view.outlets().delayTextField->isEnabled()) << "the finder owns the delay";
  view.outlets().delayStepper->upButton()->click();
  EXPECT_EQ(view.session().delayFinder(), nullptr);
  EXPECT_FALSE(view.autoInsertDelay());
  EXPECT_FALSE(settings().autoDelayOn());
  EXPECT_DOUBLE_EQ(view.delayMS(), 0.1);
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
  // A fresh file: pages that earlier tests' traces freed would take the capture in below
  // any limit (SQLite does not lower the limit under the file's size).
  traces().close();
  for (const char* suffix : {"", "-wal", "-shm"})
    std::remove((traces().databasePath() + suffix).c_str());
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
  // The stored capture's own news replaces the problem.
  EXPECT_TRUE(guitest::processEventsUntil(
      [&] { return notice->text().startsWith(QStringLiteral("Captured")); }, 2000))
      << notice->text().toStdString();
}

}  // namespace
}  // namespace qv::gui::test
