#include "audio/QXDeviceManager.h"

#include "platform/DispatchQueue.h"
#include "platform/MainQueue.h"

namespace qv {

QXDeviceManager::QXDeviceManager(QXDeviceManagerDelegate* delegate, AudioLibrary& library)
    : library_(library), _delegate(delegate) {}

std::shared_ptr<QXDeviceManager> QXDeviceManager::initWithDelegateInitialScanCompletion(
    QXDeviceManagerDelegate* delegate, std::function<void()> completion, AudioLibrary& library) {
  std::shared_ptr<QXDeviceManager> manager(new QXDeviceManager(delegate, library));
  std::weak_ptr<QXDeviceManager> weak = manager;
  manager->scanDevicesWithCompletion([weak, completion = std::move(completion)] {
    if (auto self = weak.lock()) {
      self->installListener();
      if (completion) completion();
    }
  });
  return manager;
}

QXDeviceManager::~QXDeviceManager() {
  if (listenerId_ != 0) library_.removeDevicesChangedListener(listenerId_);
}

void QXDeviceManager::installListener() {
  if (listenerId_ != 0) return;
  std::weak_ptr<QXDeviceManager> weak = weak_from_this();
  listenerId_ = library_.addDevicesChangedListener([weak] {
    if (auto self = weak.lock()) self->rescanDevices(nullptr);
  });
}

void QXDeviceManager::scanDevicesWithCompletion(std::function<void()> completion) {
  std::weak_ptr<QXDeviceManager> weak = weak_from_this();
  dispatch::globalQueue()->async([weak, completion = std::move(completion)] {
    if (auto self = weak.lock()) self->rescanDevices(completion);
  });
}

// Runs off the main queue; publishes on it.
void QXDeviceManager::rescanDevices(const std::function<void()>& completion) {
  auto recording = std::make_shared<DeviceList>();
  auto playback = std::make_shared<DeviceList>();
  std::string defaultIn;
  std::string defaultOut;
  for (const auto& d : library_.recordingDevices()) {
    recording->push_back(std::make_shared<QXAudioDeviceInfo>(d, this));
    if (d.isDefaultInput) defaultIn = d.driver;
  }
  const auto outputs = library_.playbackDevices();
  // Entry 0 is the library's "No sound" device, not a device anyone can choose.
  for (size_t i = 1; i < outputs.size(); ++i) {
    playback->push_back(std::make_shared<QXAudioDeviceInfo>(outputs[i], this));
    if (outputs[i].isDefaultOutput) defaultOut = outputs[i].driver;
  }
  std::weak_ptr<QXDeviceManager> weak = weak_from_this();
  dispatch::mainQueue().async([weak, recording, playback, defaultIn, defaultOut, completion] {
    auto self = weak.lock();
    if (!self) return;
    const size_t oldOut = self->_allPlaybackDeviceInfos.size();
    const size_t oldIn = self->_allRecordingDeviceInfos.size();
    const bool wasInit = self->_isFullyInit;
    const bool inChanged = self->defaultRecordingUID_ != defaultIn;
    const bool outChanged = self->defaultPlaybackUID_ != defaultOut;
    self->_allRecordingDeviceInfos = *recording;
    self->_allPlaybackDeviceInfos = *playback;
    self->defaultRecordingUID_ = defaultIn;
    self->defaultPlaybackUID_ = defaultOut;
    if (QXDeviceManagerDelegate* d = self->_delegate) {
      if (playback->size() != oldOut) d->playbackDeviceListChanged(*self);
      if (recording->size() != oldIn) d->recordingDeviceListChanged(*self);
      if (wasInit && inChanged) d->defaultRecordingDeviceChanged(*self);
      if (wasInit && outChanged) d->defaultPlaybackDeviceChanged(*self);
    }
    self->_isFullyInit = true;
    if (completion) completion();
  });
}

namespace {
std::shared_ptr<QXAudioDeviceInfo> findUID(const QXDeviceManager::DeviceList& list,
                                           const std::string& uid) {
  for (const auto& d : list) {
    if (d->uuid() == uid) return d;
  }
  return nullptr;
}
}  // namespace

std::shared_ptr<QXAudioDeviceInfo> QXDeviceManager::recordingDeviceByUID(
    const std::string& uid) const {
  return findUID(_allRecordingDeviceInfos, uid);
}

std::shared_ptr<QXAudioDeviceInfo> QXDeviceManager::playbackDeviceByUID(
    const std::string& uid) const {
  return findUID(_allPlaybackDeviceInfos, uid);
}

std::shared_ptr<QXAudioDeviceInfo> QXDeviceManager::defaultRecordingDevice() const {
  return findUID(_allRecordingDeviceInfos, defaultRecordingUID_);
}

std::shared_ptr<QXAudioDeviceInfo> QXDeviceManager::defaultPlaybackDevice() const {
  return findUID(_allPlaybackDeviceInfos, defaultPlaybackUID_);
}

}  // namespace qv
