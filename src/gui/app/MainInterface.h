#pragma once
// The program's main interface: creates the main window, its two-pane layout with the
// measurement view in the centre and the trace panel on the right, the application
// delegate, the coordinator and the menus, and connects them. launch() runs the start-up sequence;
// terminate() the shutdown. The main program and the end-to-end tests build the same interface.
// Main thread.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

#include "gui/app/AppCoordinator.h"
#include "gui/app/HorizontalLayoutViewController.h"
#include "gui/app/MYWindow.h"
#include "gui/app/OcclusionMonitor.h"
#include "gui/app/QVAppDelegate.h"

class QMenu;

namespace qv::gui {

class AlertAsker;
class AnalysisControl;
class AppSettings;
class QVMainViewController;
class TelemetryClient;
class TraceManagerViewController;

class MainInterface final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kGeometryKey = "MainWindowGeometry";

  // The measurement view works on the shared settings, trace store and audio library;
  // the interface does too.
  struct Options {
    TelemetryClient* telemetry = nullptr;     // TelemetryClient::shared()
    std::optional<QDBusConnection> sleepBus;  // the system bus, if any
    std::unique_ptr<AlertAsker> alertAsker;   // message boxes
  };

  MainInterface();
  explicit MainInterface(Options options);
  ~MainInterface() override;

  // Whether some screen shows enough of a window with this frame to use it.
  static bool fitsAScreen(const QRect& frame);

  // Will-finish, the window shown, then did-finish at the next turn of the event loop.
  void launch();
  // Stops the analysis and keeps the window's frame; safe to call more than once.
  void terminate();

  MYWindow* window() const { return window_.get(); }
  HorizontalLayoutViewController* layoutViewController() const { return layout_; }
  QVMainViewController* mainViewController() const;
  AnalysisControl* analysisControl() const { return analysisControl_.get(); }
  AppCoordinator* coordinator() const { return coordinator_.get(); }
  QVAppDelegate* delegate() const { return delegate_.get(); }
  QMenu* appMenu() const { return appMenu_; }
  QAction* preferencesAction() const { return preferencesAction_; }
  QAction* quitAction() const { return quitAction_; }
  // The trace panel while it is shown.
  TraceManagerViewController* traceManagerViewController() const;

 private:
  void buildMeasurementView(std::unique_ptr<AlertAsker> asker);
  void buildMenus();
  void restoreWindowFrame();
  void saveWindowFrame();

  AppSettings& settings_;
  TelemetryClient& telemetry_;
  std::unique_ptr<AppCoordinator> coordinator_;
  std::unique_ptr<QVAppDelegate> delegate_;
  std::unique_ptr<MYWindow> window_;
  HorizontalLayoutViewController* layout_ = nullptr;   // owned by the window
  QPointer<QVMainViewController> mainViewController_;  // owned by the layout
  std::unique_ptr<AnalysisControl> analysisControl_;
  std::unique_ptr<OcclusionMonitor> occlusionMonitor_;
  QMenu* appMenu_ = nullptr;
  QAction* preferencesAction_ = nullptr;
  QAction* quitAction_ = nullptr;
  bool launched_ = false;
  bool terminated_ = false;
};

}  // namespace qv::gui
