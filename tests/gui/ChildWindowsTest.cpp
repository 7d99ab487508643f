#include "support/ShellTestSupport.h"
// (the support header goes first)
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScreen>

#include "audio/QXDeviceManager.h"
#include "gui/app/AppCoordinator.h"
#include "gui/app/DarkAppearance.h"
#include "gui/app/preferences/TabItemView.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::processEventsUntil;

int visibleWindowsNamed(const QString& name) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) n += w->isVisible() && w->objectName() == name;
  return n;
}

class ChildWindowsTest : public ::testing::Test {
 protected:
  ChildWindowsTest() : library_(guitest::virtualOnlyLibrary()) {
    applyDarkAppearance(*qApp);
    coordinator_ = std::make_unique<AppCoordinator>(settings_.get(), &library_);
    coordinator_->setSleepBus(QDBusConnection(QStringLiteral("no-bus")));
  }
  ~ChildWindowsTest() override {
    coordinator_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void scanDevices() {
    coordinator_->appDidFinishLaunching();
    ASSERT_TRUE(
        processEventsUntil([&] { return coordinator_->deviceManager()->isFullyInit(); }, 5000));
  }

  guitest::TestSettings settings_;
  AudioLibrary library_;
  std::unique_ptr<AppCoordinator> coordinator_;
};

TEST_F(ChildWindowsTest, AboutTwiceShowsOneWindowWithTheProgramsText) {
  coordinator_->openAbout();
  AboutCoordinator* first = coordinator_->aboutCoordinator();
  ASSERT_NE(first, nullptr);
  coordinator_->openAbout();
  EXPECT_EQ(coordinator_->aboutCoordinator(), first);
  EXPECT_EQ(visibleWindowsNamed(QStringLiteral("AboutWindow")), 1);
  AboutWindowController* about = first->windowController();
  EXPECT_TRUE(about->versionText().contains(QStringLiteral(QV_VERSION)));
  guitest::processEventsFor(30);
  guitest::saveScreenshot(*about, QStringLiteral("about"));
}

TEST_F(ChildWindowsTest, AboutClosesWhenAnotherWindowBecomesActiveAndCanOpenAgain) {
  coordinator_->openAbout();
  AboutWindowController* about = coordinator_->aboutCoordinator()->windowController();
  ASSERT_TRUE(processEventsUntil([&] { return about->isActiveWindow(); }, 2000));

  QLabel other(QStringLiteral("another window"));
  other.show();
  other.activateWindow();
  ASSERT_TRUE(
      processEventsUntil([&] { return coordinator_->aboutCoordinator() == nullptr; }, 3000));
  EXPECT_EQ(visibleWindowsNamed(QStringLiteral("AboutWindow")), 0);

  coordinator_->openAbout();
  ASSERT_NE(coordinator_->aboutCoordinator(), nullptr);
  EXPECT_EQ(visibleWindowsNamed(QStringLiteral("AboutWindow")), 1);
}

TEST_F(ChildWindowsTest, PreferencesTwiceReuseTheCoordinatorAndClosingDropsIt) {
  scanDevices();
  coordinator_->openPreferences();
  PreferencesCoordinator* prefs = coordinator_->preferencesCoordinator();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(prefs->deviceManager(), coordinator_->deviceManager());
  PrefsWindow* window = prefs->window();
  EXPECT_TRUE(window->isVisible());
  // Centred on the screen it opened on (no other window is active here).
  const QRect screen = window->screen()->availableGeometry();
  EXPECT_LE(std::abs(window->frameGeometry().center().x() - screen.center().x()), 2);

  prefs->tabViewController()->setSelectedTabViewItemIndex(1);
  coordinator_->openPreferences();
  EXPECT_EQ(coordinator_->preferencesCoordinator(), prefs);
  EXPECT_EQ(prefs->tabViewController()->selectedTabViewItemIndex(), 0);  // a new start: tab 0
  EXPECT_EQ(visibleWindowsNamed(QStringLiteral("PrefsWindow")), 1);

  window->close();
  EXPECT_EQ(coordinator_->preferencesCoordinator(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  coordinator_->openPreferences();
  EXPECT_NE(coordinator_->preferencesCoordinator(), nullptr);
}

TEST_F(ChildWindowsTest, PreferencesOpenedBeforeTheScanGetTheDevicesWhenItCompletes) {
  coordinator_->openPreferences();
  PreferencesCoordinator* prefs = coordinator_->preferencesCoordinator();
  EXPECT_EQ(prefs->deviceManager(), nullptr);
  EXPECT_EQ(prefs->inputOutputPrefsController()->inputDevicesPopupButton()->count(), 0);
  scanDevices();
  EXPECT_EQ(prefs->deviceManager(), coordinator_->deviceManager());
  EXPECT_EQ(prefs->inputOutputPrefsController()->inputDevicesPopupButton()->currentText(),
            QStringLiteral("Virtual Sound System (44100 Hz)"));
}

TEST_F(ChildWindowsTest, TabButtonsSitInTheToolbarAndExactlyTheSelectedOneIsOn) {
  coordinator_->openPreferences();
  QXTabViewController* tabs = coordinator_->preferencesCoordinator()->tabViewController();
  ASSERT_TRUE(tabs->isConfigured());
  const QList<TabItemView*> items = tabs->tabItemViews();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(tabs->indexOfChild(QStringLiteral("General")), 1);
  EXPECT_EQ(tabs->indexOfChild(QStringLiteral("Nothing")), -1);
  EXPECT_EQ(tabs->tabItemWithIdentifier(QStringLiteral("General")), items[1]);
  EXPECT_TRUE(items[0]->state());
  EXPECT_FALSE(items[1]->state());

  items[1]->click();
  EXPECT_EQ(tabs->selectedTabViewItemIndex(), 1);
  EXPECT_FALSE(items[0]->state());
  EXPECT_TRUE(items[1]->state());
  // Clicking the selected tab again must not leave it off.
  items[1]->click();
  EXPECT_TRUE(items[1]->state());
  // A button naming no tab changes nothing.
  TabItemView stray;
  stray.setControllerIdentifier(QStringLiteral("Nothing"));
  tabs->changeTab(&stray);
  EXPECT_EQ(tabs->selectedTabViewItemIndex(), 1);
}

}  // namespace
}  // namespace qv::gui
