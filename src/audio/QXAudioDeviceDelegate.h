#pragma once
// Told about changes of one device; the device manager is the only implementer.
namespace qv {

class QXAudioDeviceInfo;

class QXAudioDeviceDelegate {
 public:
  virtual ~QXAudioDeviceDelegate() = default;
  virtual void audioDeviceDidChange(QXAudioDeviceInfo& device) = 0;
  virtual void audioDeviceDidDisconnect(QXAudioDeviceInfo& device) = 0;
};

}  // namespace qv
