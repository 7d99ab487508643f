#include "support/ShellTestSupport.h"
// (the support header goes first)
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>

#include "audio/QXDeviceManager.h"
#include "gui/app/AppCoordinator.h"
#include "gui/app/OcclusionMonitor.h"
#include "gui/app/QVAppDelegate.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::kVirtualUID;
using guitest::processEventsUntil;

// The coordinator over a window with the two-pane layout, a private settings file and an
// audio library that lists only the virtual sound system; the measurement view is a
// stand-in that counts starts and stops.
class AppCoordinatorTest : public ::testing::Test {
 protected:
  AppCoordinatorTest() : library_(guitest::virtualOnlyLibrary()) {}

  void SetUp() override { build(); }
  void TearDown() override { teardown(); }

  // The manager keeps the coordinator as its delegate: it goes with it.
  void teardown() {
    occlusion_.reset();
    window_.reset();
    analysis_.manager.reset();
    delegate_.setAppCoordinator(nullptr);
    coordinator_.reset();
  }

  void build() {
    coordinator_ = std::make_unique<AppCoordinator>(settings_.get(), &library_);
    window_ = std::make_unique<QMainWindow>();
    layout_ = new HorizontalLayoutViewController(window_.get());
    center_ = new QLabel(QStringLiteral("centre"));
    layout_->setCenterView(center_);
    window_->setCentralWidget(layout_);
    window_->resize(1000, 600);
    coordinator_->setWindow(window_.get());
    coordinator_->setLayoutViewController(layout_);
    coordinator_->setMainViewController(&analysis_);
    coordinator_->setTraceManagerPanelFactory(
        [] { return std::make_unique<QLabel>(QStringLiteral("panel")); });
    // No sleep signal in these tests: a bus that is not connected.
    coordinator_->setSleepBus(QDBusConnection(QStringLiteral("no-bus")));
    delegate_.setAppCoordinator(coordinator_.get());
    occlusion_ = std::make_unique<OcclusionMonitor>(window_.get(), [this](bool visible) {
      delegate_.applicationDidChangeOcclusionState(visible);
    });
  }

  // Will finish, the window shown, did finish, and the device scan published.
  void launch() {
    delegate_.applicationWillFinishLaunching();
    window_->show();
    delegate_.applicationDidFinishLaunching();
    ASSERT_TRUE(processEventsUntil(
        [&] {
          return coordinator_->deviceManager() && coordinator_->deviceManager()->isFullyInit();
        },
        5000));
    guitest::processEventsFor(20);
  }

  guitest::TestSettings settings_;
  AudioLibrary library_;
  guitest::FakeAnalysis analysis_;
  QVAppDelegate delegate_;
  std::unique_ptr<AppCoordinator> coordinator_;
  std::unique_ptr<QMainWindow> window_;
  HorizontalLayoutViewController* layout_ = nullptr;
  QLabel* center_ = nullptr;
  std::unique_ptr<OcclusionMonitor> occlusion_;
};

TEST_F(AppCoordinatorTest, FirstLaunchChoosesTheDefaultDevicesAndStartsTheAnalysis) {
  ASSERT_TRUE(settings_->firstStart());
  launch();
  EXPECT_FALSE(settings_->firstStart());
  EXPECT_EQ(settings_->preferredRecordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->preferredPlaybackDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->recordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->playbackDeviceUUID(), kVirtualUID);
  // The registered defaults say measurement 1, reference 0; a device chosen by the
  // program starts from its first two inputs instead.
  EXPECT_EQ(settings_->measChannelIndex(), 0);
  EXPECT_EQ(settings_->refChannelIndex(), 1);
  EXPECT_EQ(analysis_.manager, coordinator_->deviceManager());
  EXPECT_EQ(analysis_.starts, 1);
  EXPECT_TRUE(analysis_.running);

  // The next start is a regular one and keeps what the first chose.
  settings_->setMeasChannelIndex(1);
  settings_->setRefChannelIndex(0);
  teardown();
  settings_.reopen();
  analysis_ = guitest::FakeAnalysis();
  build();
  launch();
  EXPECT_EQ(settings_->measChannelIndex(), 1);
  EXPECT_EQ(settings_->refChannelIndex(), 0);
}

TEST_F(AppCoordinatorTest, AStoredDeviceThatIsGoneFallsBackToTheDefaultWithInputs0And1) {
  settings_->setFirstStart(false);
  settings_->setPreferredRecordingDeviceUUID("ALSA:unplugged interface");
  settings_->setPreferredPlaybackDeviceUUID("ALSA:unplugged interface");
  settings_->setMeasChannelIndex(5);
  settings_->setRefChannelIndex(3);
  launch();
  EXPECT_EQ(settings_->preferredRecordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->recordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->preferredPlaybackDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->playbackDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->measChannelIndex(), 0);
  EXPECT_EQ(settings_->refChannelIndex(), 1);
}

// Stored inputs that cannot both be recorded on the (two-input) device: the same input
// twice, or one the device does not have, which would be recorded as silence.
class StoredInputsTest : public AppCoordinatorTest,
                         public ::testing::WithParamInterface<std::pair<int64_t, int64_t>> {};

TEST_P(StoredInputsTest, Become0And1AndTheAvailableDeviceIsKept) {
  settings_->setFirstStart(false);
  settings_->setPreferredRecordingDeviceUUID(kVirtualUID);
  settings_->setPreferredPlaybackDeviceUUID(kVirtualUID);
  settings_->setMeasChannelIndex(GetParam().first);
  settings_->setRefChannelIndex(GetParam().second);
  launch();
  EXPECT_EQ(settings_->measChannelIndex(), 0);
  EXPECT_EQ(settings_->refChannelIndex(), 1);
  EXPECT_EQ(settings_->preferredRecordingDeviceUUID(), kVirtualUID);
}

INSTANTIATE_TEST_SUITE_P(Inputs, StoredInputsTest,
                         ::testing::Values(std::pair<int64_t, int64_t>{1, 1},
                                           std::pair<int64_t, int64_t>{40, 0},
                                           std::pair<int64_t, int64_t>{1, 2}));

TEST_F(AppCoordinatorTest, APausedAnalysisStaysPausedAtLaunch) {
  settings_->setRunningOnStart(false);
  launch();
  EXPECT_EQ(analysis_.starts, 0);
  EXPECT_FALSE(analysis_.running);
}

TEST_F(AppCoordinatorTest, HidingOrMinimisingStopsAndShowingRestartsWhenTheSettingsAskForIt) {
  launch();
  ASSERT_TRUE(analysis_.running);

  window_->hide();
  EXPECT_FALSE(analysis_.running);
  window_->show();
  EXPECT_TRUE(analysis_.running);

  window_->showMinimized();
  ASSERT_TRUE(processEventsUntil([&] { return window_->isMinimized(); }, 2000));
  EXPECT_FALSE(analysis_.running);
  window_->showNormal();
  ASSERT_TRUE(processEventsUntil([&] { return analysis_.running; }, 2000));

  // The user paused: showing the window again must not start it behind their back.
  settings_->setRunningOnStart(false);
  window_->hide();
  window_->show();
  EXPECT_FALSE(analysis_.running);
}

TEST_F(AppCoordinatorTest, ShowingBeforeTheFirstDeviceScanDoesNotStart) {
  delegate_.applicationWillFinishLaunching();
  delegate_.applicationDidFinishLaunching();
  ASSERT_NE(coordinator_->deviceManager(), nullptr);
  ASSERT_FALSE(coordinator_->deviceManager()->isFullyInit());  // its result waits on the loop
  window_->show();
  EXPECT_FALSE(analysis_.running);
  EXPECT_EQ(analysis_.starts, 0);
  // The scan itself then starts it.
  ASSERT_TRUE(processEventsUntil([&] { return analysis_.running; }, 5000));
}

TEST_F(AppCoordinatorTest, SleepStopsWakingRestartsNothingAndTerminationStops) {
  guitest::LogCapture log;
  launch();
  coordinator_->onWorkspaceWillSleep();
  EXPECT_FALSE(analysis_.running);
  EXPECT_EQ(log.count("Workspace will sleep"), 1);
  coordinator_->onWorkspaceDidWake();
  EXPECT_FALSE(analysis_.running);
  EXPECT_EQ(log.count("Workspace did wake"), 1);

  window_->hide();
  window_->show();
  ASSERT_TRUE(analysis_.running);
  const int stops = analysis_.stops;
  delegate_.applicationWillTerminate();
  EXPECT_EQ(analysis_.stops, stops + 1);
  EXPECT_FALSE(analysis_.running);
}

TEST_F(AppCoordinatorTest, TogglingThePanelTwiceLeavesItOffAndTheCentreFullWidth) {
  launch();
  ASSERT_FALSE(coordinator_->traceManagerVisible());
  const int width = layout_->width();

  delegate_.onShowHideTraceManager();
  EXPECT_TRUE(settings_->showTraceManager());
  ASSERT_NE(layout_->rightView(), nullptr);
  EXPECT_TRUE(layout_->rightView()->isVisible());
  EXPECT_EQ(layout_->rightView()->geometry(), QRect(width - 200, 0, 200, layout_->height()));
  EXPECT_EQ(center_->geometry(), QRect(0, 0, width - 200, layout_->height()));

  delegate_.onShowHideTraceManager();
  EXPECT_FALSE(settings_->showTraceManager());
  EXPECT_EQ(layout_->rightView(), nullptr);
  EXPECT_EQ(coordinator_->traceManagerCoordinator(), nullptr);
  EXPECT_EQ(center_->geometry(), layout_->rect());

  // Resizing keeps the panel's width and gives the rest to the centre.
  delegate_.onShowHideTraceManager();
  window_->resize(700, 500);
  guitest::processEventsFor(20);
  EXPECT_EQ(layout_->rightView()->width(), 200);
  EXPECT_EQ(center_->width() + 200, layout_->width());
}

TEST_F(AppCoordinatorTest, OnlyThePanelItemCarriesACheckMarkAndItFollowsThePanel) {
  launch();
  QMenu menu;
  QAction* panel = menu.addAction(QStringLiteral("Trace Manager"));
  panel->setData(6100);
  QAction* other = menu.addAction(QStringLiteral("Other"));
  other->setData(6000);
  other->setCheckable(true);
  other->setChecked(true);
  other->setEnabled(false);

  delegate_.validateMenuItem(panel);
  delegate_.validateMenuItem(other);
  EXPECT_FALSE(panel->isChecked());
  EXPECT_FALSE(other->isChecked());
  EXPECT_TRUE(other->isEnabled());
  delegate_.onShowHideTraceManager();
  delegate_.validateMenuItem(panel);
  EXPECT_TRUE(panel->isChecked());
}

}  // namespace
}  // namespace qv::gui
