#pragma once
// Decides what happens at launch, termination, sleep and occlusion and on the
// application's menu commands, and owns the coordinators of the secondary windows and
// the trace panel. Launch: the panel opens when it was open last time; on the first
// start `firstStart` goes off; the device manager's first scan repairs the device
// choices (default devices where none is stored or the stored one is gone, inputs 0 and
// 1 where both channels are the same) and then starts the analysis when the settings say
// it was running. Main thread; the device manager's callbacks arrive there.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "audio/QXDeviceManagerDelegate.h"
#include "gui/app/AboutCoordinator.h"
#include "gui/app/AppCoordinatorProtocol.h"
#include "gui/app/ChildCoordinatorDelegate.h"
#include "gui/app/HorizontalLayoutViewController.h"
#include "gui/app/SleepMonitor.h"
#include "gui/app/TraceManagerCoordinator.h"
#include "gui/app/preferences/PreferencesCoordinator.h"

namespace qv {
class AudioLibrary;
class QXDeviceManager;
}  // namespace qv

namespace qv::gui {

class AnalysisControl;
class AppSettings;
class TelemetryClient;

class AppCoordinator final : public QObject,
                             public AppCoordinatorProtocol,
                             public ChildCoordinatorDelegate,
                             public QXDeviceManagerDelegate {
  Q_OBJECT

 public:
  // The program's shared objects unless a test passes its own.
  explicit AppCoordinator(AppSettings* settings = nullptr, AudioLibrary* library = nullptr);
  ~AppCoordinator() override;

  // Wiring, before launch. None is owned.
  void setWindow(QWidget* window) { window_ = window; }
  void setMainViewController(AnalysisControl* controller) { mainViewController_ = controller; }
  void setLayoutViewController(HorizontalLayoutViewController* layout) {
    layoutViewController_ = layout;
  }
  void setTraceManagerPanelFactory(TraceManagerCoordinator::PanelFactory factory) {
    panelFactory_ = std::move(factory);
  }
  void setTelemetry(TelemetryClient* telemetry) { telemetry_ = telemetry; }
  void setTraceDatabasePath(std::string path) { traceDatabasePath_ = std::move(path); }
  // The bus to hear logind's sleep signal on; the system bus (if any) when not set.
  void setSleepBus(QDBusConnection bus) { sleepBus_ = std::move(bus); }

  // AppCoordinatorProtocol
  void appWillFinishLaunching() override;
  void appDidFinishLaunching() override;
  void appWillTerminate() override;
  void appWillHide() override {}
  void appDidHide() override {}
  void appWillUnhide() override {}
  void appDidUnhide() override {}
  void appOcclusionStateChanged(bool visible) override;

  // Menu commands.
  void openPreferences();
  void openAbout();
  void clearAllTraces();
  void toggleTraceManager();
  bool traceManagerVisible() const;

  // QXDeviceManagerDelegate: the open preferences window rebuilds its lists.
  void recordingDeviceListChanged(QXDeviceManager& manager) override;
  void playbackDeviceListChanged(QXDeviceManager& manager) override;
  void defaultRecordingDeviceChanged(QXDeviceManager&) override {}
  void defaultPlaybackDeviceChanged(QXDeviceManager&) override {}

  void onWorkspaceWillSleep();
  void onWorkspaceDidWake();

  // ChildCoordinatorDelegate
  void coordinatorDidFinish(ChildCoordinator& child) override;

  std::shared_ptr<QXDeviceManager> deviceManager() const { return deviceManager_; }
  PreferencesCoordinator* preferencesCoordinator() const { return preferencesCoordinator_.get(); }
  AboutCoordinator* aboutCoordinator() const { return aboutCoordinator_.get(); }
  TraceManagerCoordinator* traceManagerCoordinator() const {
    return traceManagerCoordinator_.get();
  }
  bool isObservingSleep() const { return sleepMonitor_ && sleepMonitor_->isListening(); }

 private:
  void firstStart();
  void regularStart();
  void startAnalysisIfNeeded();
  void stop();
  void fallbackToDefaultDevicesIfNoSaved();
  void fallbackToDefaultDevicesIfUnavailable();
  void fallbackWithInputChannelAssignment();
  void stopObservingSleep();
  // A child goes at the next turn of the event loop: it may be inside its own event.
  template <typename T>
  static void dropLater(std::unique_ptr<T>& child);

  AppSettings& settings_;
  AudioLibrary& library_;
  QPointer<QWidget> window_;
  AnalysisControl* mainViewController_ = nullptr;
  QPointer<HorizontalLayoutViewController> layoutViewController_;
  std::shared_ptr<QXDeviceManager> deviceManager_;
  std::unique_ptr<PreferencesCoordinator> preferencesCoordinator_;
  std::unique_ptr<TraceManagerCoordinator> traceManagerCoordinator_;
  std::unique_ptr<AboutCoordinator> aboutCoordinator_;

  TraceManagerCoordinator::PanelFactory panelFactory_;
  TelemetryClient* telemetry_ = nullptr;
  std::string traceDatabasePath_;
  std::optional<QDBusConnection> sleepBus_;
  std::unique_ptr<SleepMonitor> sleepMonitor_;
};

}  // namespace qv::gui
