#include "gui/app/AppCoordinator.h"

#include "audio/QXDeviceManager.h"
#include "audiolib/AudioLibrary.h"
#include "gui/app/AnalysisControl.h"
#include "gui/app/AppSettings.h"
#include "platform/Log.h"

namespace qv::gui {

AppCoordinator::AppCoordinator(AppSettings* settings, AudioLibrary* library)
    : settings_(settings ? *settings : AppSettings::set()),
      library_(library ? *library : AudioLibrary::shared()) {}

AppCoordinator::~AppCoordinator() {
  stopObservingSleep();
  // The panel leaves the layout before the layout may go.
  traceManagerCoordinator_.reset();
  preferencesCoordinator_.reset();
  aboutCoordinator_.reset();
}

template <typename T>
void AppCoordinator::dropLater(std::unique_ptr<T>& child) {
  if (child) child.release()->deleteLater();
}

// ---- launch and termination ----

void AppCoordinator::appWillFinishLaunching() {
  if (settings_.showTraceManager()) toggleTraceManager();
  QPointer<AppCoordinator> weak(this);
  sleepMonitor_ = std::make_unique<SleepMonitor>(
      sleepBus_ ? *sleepBus_ : SleepMonitor::systemBusIfAny(),
      [weak] {
        if (weak) weak->onWorkspaceWillSleep();
      },
      [weak] {
        if (weak) weak->onWorkspaceDidWake();
      });
}

void AppCoordinator::appDidFinishLaunching() {
  if (settings_.firstStart()) {
    firstStart();
  } else {
    regularStart();
  }
}

void AppCoordinator::firstStart() {
  settings_.setFirstStart(false);
  regularStart();
}

void AppCoordinator::regularStart() {
  QPointer<AppCoordinator> weak(this);
  deviceManager_ = QXDeviceManager::initWithDelegateInitialScanCompletion(
      this,
      [weak] {
        if (!weak) return;
        weak->fallbackToDefaultDevicesIfNoSaved();
        weak->fallbackToDefaultDevicesIfUnavailable();
        weak->fallbackWithInputChannelAssignment();
        if (weak->preferencesCoordinator_) {
          weak->preferencesCoordinator_->setDeviceManager(weak->deviceManager_);
        }
        weak->startAnalysisIfNeeded();
      },
      library_);
  if (mainViewController_) mainViewController_->setDeviceManager(deviceManager_);
}

void AppCoordinator::appWillTerminate() {
  stopObservingSleep();
  stop();
}

void AppCoordinator::stopObservingSleep() { sleepMonitor_.reset(); }

// ---- device choices ----

void AppCoordinator::fallbackToDefaultDevicesIfNoSaved() {
  if (!settings_.preferredRecordingDeviceUUID()) {
    if (const auto device = deviceManager_->defaultRecordingDevice()) {
      settings_.setPreferredRecordingDeviceUUID(device->uuid());
    }
    settings_.setMeasChannelIndex(0);
    settings_.setRefChannelIndex(1);
  }
  if (!settings_.preferredPlaybackDeviceUUID()) {
    if (const auto device = deviceManager_->defaultPlaybackDevice()) {
      settings_.setPreferredPlaybackDeviceUUID(device->uuid());
    }
  }
}

void AppCoordinator::fallbackToDefaultDevicesIfUnavailable() {
  const auto recording = settings_.preferredRecordingDeviceUUID();
  if (!recording || !deviceManager_->recordingDeviceByUID(*recording)) {
    // With no default either, the stored choice stays for when its device comes back.
    if (const auto device = deviceManager_->defaultRecordingDevice()) {
      settings_.setRecordingDeviceUUID(device->uuid());
      settings_.setPreferredRecordingDeviceUUID(device->uuid());
    } else {
      settings_.setRecordingDeviceUUID(std::nullopt);
    }
    settings_.setMeasChannelIndex(0);
    settings_.setRefChannelIndex(1);
  }
  const auto playback = settings_.preferredPlaybackDeviceUUID();
  if (!playback || !deviceManager_->playbackDeviceByUID(*playback)) {
    if (const auto device = deviceManager_->defaultPlaybackDevice()) {
      settings_.setPlaybackDeviceUUID(device->uuid());
      settings_.setPreferredPlaybackDeviceUUID(device->uuid());
    } else {
      settings_.setPlaybackDeviceUUID(std::nullopt);
    }
  }
}

void AppCoordinator::fallbackWithInputChannelAssignment() {
  const int64_t meas = settings_.measChannelIndex();
  const int64_t ref = settings_.refChannelIndex();
  // An input the device does not have would be recorded as silence.
  int64_t inputs = 0;
  const auto uid = settings_.recordingDeviceUUID();
  if (const auto device = uid ? deviceManager_->recordingDeviceByUID(*uid) : nullptr)
    inputs = device->inputStreamsNumber();
  const bool missing = inputs > 0 && (meas >= inputs || ref >= inputs);
  if (missing) {
    qv::log("Settings: %s has %lld inputs, not inputs %lld and %lld; using inputs 1 and 2",
            uid->c_str(), static_cast<long long>(inputs), static_cast<long long>(meas) + 1,
            static_cast<long long>(ref) + 1);
  }
  if (meas == ref || missing) {
    settings_.setMeasChannelIndex(0);
    settings_.setRefChannelIndex(1);
  }
}

void AppCoordinator::recordingDeviceListChanged(QXDeviceManager&) {
  if (preferencesCoordinator_) preferencesCoordinator_->deviceListChanged();
}

void AppCoordinator::playbackDeviceListChanged(QXDeviceManager&) {
  if (preferencesCoordinator_) preferencesCoordinator_->deviceListChanged();
}

// ---- running and stopping ----

void AppCoordinator::startAnalysisIfNeeded() {
  if (settings_.runningOnStart() && mainViewController_ && !mainViewController_->started()) {
    mainViewController_->startAnalysis();
  }
}

void AppCoordinator::stop() {
  if (mainViewController_) mainViewController_->stop();
}

void AppCoordinator::appOcclusionStateChanged(bool visible) {
  if (visible && deviceManager_ && deviceManager_->isFullyInit()) {
    startAnalysisIfNeeded();
  } else {
    stop();
  }
}

void AppCoordinator::onWorkspaceWillSleep() {
  qv::log("Workspace will sleep");
  if (mainViewController_) mainViewController_->stop();
}

void AppCoordinator::onWorkspaceDidWake() {
  // Waking alone restarts nothing: the window's visibility and the settings decide.
  qv::log("Workspace did wake");
}

// ---- menu commands ----

void AppCoordinator::openPreferences() {
  if (!preferencesCoordinator_) {
    PreferencesCoordinator::Environment environment;
    environment.settings = &settings_;
    environment.library = &library_;
    environment.telemetry = telemetry_;
    environment.databasePath = traceDatabasePath_;
    preferencesCoordinator_ =
        std::make_unique<PreferencesCoordinator>(this, false, std::move(environment));
    preferencesCoordinator_->setDeviceManager(deviceManager_);
  }
  preferencesCoordinator_->start();
}

void AppCoordinator::openAbout() {
  if (!aboutCoordinator_) aboutCoordinator_ = std::make_unique<AboutCoordinator>(this, true);
}

void AppCoordinator::clearAllTraces() {
  if (mainViewController_) mainViewController_->clearAllTraces();
}

void AppCoordinator::toggleTraceManager() {
  if (traceManagerCoordinator_) {
    traceManagerCoordinator_->finish();
    traceManagerCoordinator_.reset();
    settings_.setShowTraceManager(false);
  } else {
    traceManagerCoordinator_ = std::make_unique<TraceManagerCoordinator>(
        this, true, layoutViewController_.data(), panelFactory_);
    settings_.setShowTraceManager(true);
  }
}

bool AppCoordinator::traceManagerVisible() const { return settings_.showTraceManager(); }

void AppCoordinator::coordinatorDidFinish(ChildCoordinator& child) {
  if (&child == preferencesCoordinator_.get()) {
    dropLater(preferencesCoordinator_);
  } else if (&child == aboutCoordinator_.get()) {
    dropLater(aboutCoordinator_);
  }
}

}  // namespace qv::gui
