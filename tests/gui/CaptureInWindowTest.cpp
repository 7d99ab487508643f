// A capture in the whole window: the trace panel shown from the View menu lists the new
// trace under the name the window's message gives it, and reads the averaging in words at
// the measurement's own display rate; the plot's legend uses the same name.
// clang-format off
#include "support/ShellTestSupport.h"
// clang-format on
#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QLabel>

#include "engine/AveragingChoice.h"
#include "gui/app/AppSettings.h"
#include "gui/app/MainInterface.h"
#include "gui/app/MainViewOutlets.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/TraceLegend.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "gui/traces/TraceShotCellView.h"
#include "session/MeasurementSession.h"
#include "support/GuiTestSupport.h"
#include "traces/TraceManager.h"

namespace qv::gui {
namespace {

TEST(CaptureInWindow, ThePanelListsTheNewTraceUnderTheNameTheWindowSays) {
  TraceManager::shared().clearAll();
  AppSettings::set().setShowTraceManager(false);
  MainInterface::Options options;
  options.sleepBus = QDBusConnection(QStringLiteral("no-bus"));
  MainInterface ui(std::move(options));
  ui.launch();
  QMainWindow* window = ui.window();
  window->resize(1280, 690);
  QVMainViewController* view = ui.mainViewController();
  ASSERT_NE(view, nullptr);
  view->actionForTag(QVMainViewController::kTagTraceManager)->trigger();
  TraceManagerViewController* panel = ui.traceManagerViewController();
  ASSERT_NE(panel, nullptr);
  guitest::processEventsFor(50);
  EXPECT_EQ(panel->averagingLabel()->text().toStdString(),
            AveragingChoice::label(static_cast<int>(AppSettings::set().averaging()),
                                   view->session().displayInterval()));

  // Live curves to capture: the virtual room measured for a moment.
  ASSERT_TRUE(guitest::processEventsUntil([&] { return view->started(); }, 10000));
  guitest::processEventsFor(1500);
  view->captureAction()->trigger();
  ASSERT_TRUE(guitest::processEventsUntil([&] { return panel->model()->rowCount() == 1; }, 5000));
  const QLabel* notice = view->outlets().noticeLabel;
  ASSERT_TRUE(guitest::processEventsUntil([&] { return !notice->isHidden(); }, 5000));
  const QString name = panel->cellForRow(0)->primaryTitle();
  EXPECT_TRUE(name.startsWith("TF 1 \u2014 ")) << name.toStdString();
  // The panel is shown: the message needs no hint where to look.
  EXPECT_EQ(notice->text(), "Captured \u201c" + name + "\u201d");
  // The plot's legend names the trace as the panel does.
  const auto& legend = view->plotController()->legend()->entries();
  ASSERT_EQ(legend.size(), 2u);
  EXPECT_EQ(legend[1].text, name);
  guitest::processEventsFor(100);
  guitest::saveScreenshot(*window, "mainwindow-after-capture");
  ui.terminate();
}

}  // namespace
}  // namespace qv::gui
