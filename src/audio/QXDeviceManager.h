#pragma once
// Keeps the lists of input and output devices, follows the audio library's device
// changes and tells its delegate.
// Thread contract: scans run on the global queue; the lists are replaced (never edited)
// on the main queue, where every delegate call arrives; read the lists on the main queue.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/QXAudioDeviceDelegate.h"
#include "audio/QXAudioDeviceInfo.h"
#include "audio/QXDeviceManagerDelegate.h"
#include "audiolib/AudioLibrary.h"

namespace qv {

class QXDeviceManager final : public QXAudioDeviceDelegate,
                              public std::enable_shared_from_this<QXDeviceManager> {
 public:
  using DeviceList = std::vector<std::shared_ptr<QXAudioDeviceInfo>>;

  // `delegate` is unretained; `completion` runs on the main queue after the first scan.
  static std::shared_ptr<QXDeviceManager> initWithDelegateInitialScanCompletion(
      QXDeviceManagerDelegate* delegate, std::function<void()> completion,
      AudioLibrary& library = AudioLibrary::shared());
  ~QXDeviceManager() override;

  void scanDevicesWithCompletion(std::function<void()> completion);
  std::shared_ptr<QXAudioDeviceInfo> recordingDeviceByUID(const std::string& uid) const;
  std::shared_ptr<QXAudioDeviceInfo> playbackDeviceByUID(const std::string& uid) const;
  std::shared_ptr<QXAudioDeviceInfo> defaultRecordingDevice() const;
  std::shared_ptr<QXAudioDeviceInfo> defaultPlaybackDevice() const;
  const DeviceList& allRecordingDeviceInfos() const { return _allRecordingDeviceInfos; }
  const DeviceList& allPlaybackDeviceInfos() const { return _allPlaybackDeviceInfos; }
  bool isFullyInit() const { return _isFullyInit; }
  QXDeviceManagerDelegate* delegate() const { return _delegate; }

  void audioDeviceDidChange(QXAudioDeviceInfo&) override {}
  void audioDeviceDidDisconnect(QXAudioDeviceInfo&) override {}

 private:
  QXDeviceManager(QXDeviceManagerDelegate* delegate, AudioLibrary& library);
  void rescanDevices(const std::function<void()>& completion);
  void installListener();

  AudioLibrary& library_;
  bool _isFullyInit = false;
  DeviceList _allRecordingDeviceInfos;
  DeviceList _allPlaybackDeviceInfos;
  QXDeviceManagerDelegate* _delegate;
  std::string defaultRecordingUID_;
  std::string defaultPlaybackUID_;
  int listenerId_ = 0;
};

}  // namespace qv
