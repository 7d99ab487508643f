#pragma once
// The preferences window with its two tabs, "Input / Output" and "General". A repeated
// start shows the same window again on its first tab; closing the window finishes the
// coordinator. Main thread.
#include <memory>
#include <string>

#include "gui/app/ChildCoordinator.h"
#include "gui/app/preferences/GeneralPreferencesViewController.h"
#include "gui/app/preferences/InputOutputViewController.h"
#include "gui/app/preferences/PreferencesWindowController.h"
#include "gui/app/preferences/QXTabViewController.h"

namespace qv {
class AudioLibrary;
class QXDeviceManager;
}  // namespace qv

namespace qv::gui {

class AppSettings;
class TelemetryClient;

class PreferencesCoordinator final : public ChildCoordinator {
  Q_OBJECT

 public:
  // What the pages work on; the program's shared objects unless a test says otherwise.
  struct Environment {
    AppSettings* settings = nullptr;       // AppSettings::set()
    AudioLibrary* library = nullptr;       // AudioLibrary::shared()
    TelemetryClient* telemetry = nullptr;  // none: no usage events
    std::string databasePath;              // the trace store's file
  };

  PreferencesCoordinator(ChildCoordinatorDelegate* delegate, bool start, Environment environment);
  ~PreferencesCoordinator() override;

  void start() override;
  void setDeviceManager(std::shared_ptr<QXDeviceManager> manager);
  std::shared_ptr<QXDeviceManager> deviceManager() const;
  // A device list changed while the window may be open.
  void deviceListChanged();

  PrefsWindow* window() const { return _windowController->window(); }
  QXTabViewController* tabViewController() const { return _tabViewController; }
  InputOutputViewController* inputOutputPrefsController() const {
    return _inputOutputPrefsController;
  }
  GeneralPreferencesViewController* generalPrefsController() const {
    return _generalPrefsController;
  }

 private:
  void windowWillClose();

  std::unique_ptr<PreferencesWindowController> _windowController;
  GeneralPreferencesViewController* _generalPrefsController = nullptr;  // owned by the tabs
  InputOutputViewController* _inputOutputPrefsController = nullptr;     // owned by the tabs
  QXTabViewController* _tabViewController = nullptr;                    // owned by the window
};

}  // namespace qv::gui
