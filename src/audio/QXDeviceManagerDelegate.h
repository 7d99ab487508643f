#pragma once
// Told on the main queue when a device list or a default device changes; every
// operation is optional (the defaults do nothing).
namespace qv {

class QXDeviceManager;

class QXDeviceManagerDelegate {
 public:
  virtual ~QXDeviceManagerDelegate() = default;
  virtual void recordingDeviceListChanged(QXDeviceManager&) {}
  virtual void playbackDeviceListChanged(QXDeviceManager&) {}
  virtual void defaultRecordingDeviceChanged(QXDeviceManager&) {}
  virtual void defaultPlaybackDeviceChanged(QXDeviceManager&) {}
};

}  // namespace qv
