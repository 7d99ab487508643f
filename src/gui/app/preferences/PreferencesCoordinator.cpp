#include "gui/app/preferences/PreferencesCoordinator.h"

#include "audiolib/AudioLibrary.h"
#include "gui/app/AppSettings.h"
#include "gui/app/TelemetryClient.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceFolders.h"

namespace qv::gui {

PreferencesCoordinator::PreferencesCoordinator(ChildCoordinatorDelegate* delegate, bool start,
                                               Environment environment)
    : ChildCoordinator(delegate, start) {
  AppSettings& settings = environment.settings ? *environment.settings : AppSettings::set();
  AudioLibrary& library = environment.library ? *environment.library : AudioLibrary::shared();
  if (environment.databasePath.empty()) {
    environment.databasePath = TraceFolders::dataFolder() + "/" + TraceDatabase::kFileName;
  }

  _windowController = std::make_unique<PreferencesWindowController>();
  _tabViewController = new QXTabViewController();
  _inputOutputPrefsController =
      new InputOutputViewController(settings, library, environment.telemetry);
  _generalPrefsController = new GeneralPreferencesViewController(
      settings, QString::fromStdString(environment.databasePath));
  _tabViewController->addTabViewItem(_inputOutputPrefsController,
                                     _inputOutputPrefsController->objectName());
  _tabViewController->addTabViewItem(_generalPrefsController,
                                     _generalPrefsController->objectName());
  window()->setCentralWidget(_tabViewController);
  connect(_windowController.get(), &PreferencesWindowController::windowWillClose, this,
          &PreferencesCoordinator::windowWillClose);
  if (start) this->start();
}

PreferencesCoordinator::~PreferencesCoordinator() = default;

void PreferencesCoordinator::start() {
  _windowController->showWindow();
  _tabViewController->setSelectedTabViewItemIndex(0);
}

void PreferencesCoordinator::setDeviceManager(std::shared_ptr<QXDeviceManager> manager) {
  _inputOutputPrefsController->setDeviceManager(std::move(manager));
}

std::shared_ptr<QXDeviceManager> PreferencesCoordinator::deviceManager() const {
  return _inputOutputPrefsController->deviceManager();
}

void PreferencesCoordinator::deviceListChanged() {
  _inputOutputPrefsController->deviceListChanged();
}

void PreferencesCoordinator::windowWillClose() { tellDelegateDidFinish(); }

}  // namespace qv::gui
