#pragma once
// Receives the application's events and its menu commands and hands them to the
// coordinator; keeps its menu items' check marks current (the trace panel's item, tag
// 6100, is checked while the panel is shown). Main thread.
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;

namespace qv::gui {

class AppCoordinator;
class TelemetryClient;

class QVAppDelegate final : public QObject {
  Q_OBJECT

 public:
  // Menu items carry their tag as their data.
  static constexpr int kShowHideTraceManagerTag = 6100;

  explicit QVAppDelegate(QObject* parent = nullptr);
  ~QVAppDelegate() override;

  void setAppCoordinator(AppCoordinator* coordinator) { appCoordinator_ = coordinator; }
  AppCoordinator* appCoordinator() const { return appCoordinator_; }
  void setTelemetry(TelemetryClient* telemetry) { telemetry_ = telemetry; }

  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  void applicationDidChangeOcclusionState(bool visible);
  static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

  void onAboutMenu();
  void onPrefsMenu();
  void onShowHideTraceManager();
  void onClearAllTraces();

  // Every item is enabled; only tag 6100 may carry a check mark.
  bool validateMenuItem(QAction* item) const;
  // Validates the menu's items each time it opens.
  void validateItemsOf(QMenu* menu);

  static int tagOf(const QAction* item);

 private:
  AppCoordinator* appCoordinator_ = nullptr;  // weak: the coordinator outlives this object
  TelemetryClient* telemetry_ = nullptr;
};

}  // namespace qv::gui
