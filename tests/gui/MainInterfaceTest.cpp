// The main interface in this process: its keys, the preferences from the input label,
// and the window's frame kept for the next start. (Each test is its own process, so the
// shared settings and store start empty.)
// clang-format off
#include "support/ShellTestSupport.h"
// clang-format on
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include "gui/app/AlertAsker.h"
#include "gui/app/MainInterface.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVMainViewController.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::processEventsUntil;

std::unique_ptr<MainInterface> makeInterface() {
  MainInterface::Options options;
  options.sleepBus = QDBusConnection(QStringLiteral("no-bus"));
  auto ui = std::make_unique<MainInterface>(std::move(options));
  ui->launch();
  return ui;
}

TEST(MainInterface, CtrlCommaAndTheInputLabelOpenThePreferencesAndCtrlQQuits) {
  auto ui = makeInterface();
  ASSERT_TRUE(
      processEventsUntil([&] { return ui->coordinator()->deviceManager() != nullptr; }, 5000));
  ASSERT_TRUE(guitest::typeKey(ui->window(), Qt::Key_Comma, ",", Qt::ControlModifier));
  PreferencesCoordinator* prefs = ui->coordinator()->preferencesCoordinator();
  ASSERT_NE(prefs, nullptr);
  prefs->window()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(ui->coordinator()->preferencesCoordinator(), nullptr);

  emit ui->mainViewController()->outlets().inputLabel->clicked();
  EXPECT_NE(ui->coordinator()->preferencesCoordinator(), nullptr);

  bool quitAsked = false;
  QObject::connect(ui->quitAction(), &QAction::triggered, [&] { quitAsked = true; });
  ASSERT_TRUE(guitest::typeKey(ui->window(), Qt::Key_Q, "q", Qt::ControlModifier));
  EXPECT_TRUE(quitAsked);
  ui->terminate();
}

TEST(MainInterface, TheApplicationMenuComesFirstAndTheViewsMenusFollow) {
  auto ui = makeInterface();
  QStringList titles;
  for (QAction* menu : ui->window()->menuBar()->actions()) titles << menu->text();
  ASSERT_GE(titles.size(), 2);
  EXPECT_EQ(titles.front(), QStringLiteral("&Quorvex"));
  EXPECT_TRUE(titles.contains(QStringLiteral("View")));
  ui->terminate();
}

TEST(MainInterface, TheWindowOpensLargeAtFirstAndWhereTheUserLeftItAfterwards) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QRect left;
  {
    auto ui = makeInterface();
    const QSize first = ui->window()->size();
    // No smaller than the window can be, on a screen smaller than that (the test platform's).
    EXPECT_EQ(first,
              QSize(1400, 900).boundedTo(screen.size()).expandedTo(ui->window()->minimumSize()));
    ui->window()->setGeometry(screen.x() + 40, screen.y() + 30, 640, 480);
    guitest::processEventsFor(20);
    left = ui->window()->geometry();
    ui->terminate();
  }
  QPoint second;
  {
    auto ui = makeInterface();
    second = ui->window()->pos();
    ui->terminate();
  }
  auto ui = makeInterface();
  EXPECT_EQ(ui->window()->pos(), second) << "the window creeps at every start";
  EXPECT_EQ(ui->window()->size(), left.size());
  // The platform may place the frame a few pixels off what was asked (the offscreen one
  // reports a 2-pixel frame); a drift per start must stay that small.
  EXPECT_LE((ui->window()->pos() - left.topLeft()).manhattanLength(), 4)
      << ui->window()->x() << "," << ui->window()->y();
  ui->terminate();
}

// A stored frame is kept when a screen shows a usable part of it: not one a few pixels
// large, nor one that lies almost entirely beside every screen.
TEST(MainInterface, AStoredFrameIsKeptOnlyWhenAScreenShowsEnoughOfIt) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint at = screen.topLeft();
  EXPECT_TRUE(MainInterface::fitsAScreen(screen));
  EXPECT_TRUE(MainInterface::fitsAScreen(QRect(at, QSize(640, 400))));
  EXPECT_TRUE(MainInterface::fitsAScreen(QRect(at - QPoint(200, 0), QSize(1400, 900))));
  EXPECT_FALSE(MainInterface::fitsAScreen(QRect(at + QPoint(60, 60), QSize(1, 19))));
  EXPECT_FALSE(MainInterface::fitsAScreen(QRect(at, QSize(639, 900))));
  EXPECT_FALSE(MainInterface::fitsAScreen(QRect(screen.right() - 99, screen.top(), 800, 600)));
  EXPECT_FALSE(MainInterface::fitsAScreen(screen.translated(0, 10 * screen.height())));
}

}  // namespace
}  // namespace qv::gui
