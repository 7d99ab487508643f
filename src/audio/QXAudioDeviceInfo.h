#pragma once
// One audio device as the device lists show it. Immutable after creation, so it may be
// read from any thread.
#include <cstdint>
#include <string>

#include "audiolib/AudioTypes.h"

namespace qv {

class QXAudioDeviceDelegate;

class QXAudioDeviceInfo {
 public:
  // Transport types (`_type`).
  static constexpr uint32_t kTransportUnknown = 0;
  static constexpr uint32_t kTransportAlsa = 1;
  static constexpr uint32_t kTransportJack = 2;
  static constexpr uint32_t kTransportVirtual = 3;

  QXAudioDeviceInfo(const AudioDeviceInfo& device, QXAudioDeviceDelegate* delegate);

  const std::string& name() const { return _name; }
  const std::string& uuid() const { return _uuid; }
  uint32_t deviceID() const { return _deviceID; }
  uint32_t type() const { return _type; }
  std::string description() const { return _name; }
  // Channel counts: each channel of our devices is its own stream.
  uint32_t inputStreamsNumber() const { return inputs_; }
  uint32_t outputStreamsNumber() const { return outputs_; }
  double defaultRate() const { return rate_; }
  QXAudioDeviceDelegate* delegate() const { return _delegate; }

  // A stable id for a UID, the same in every scan.
  static uint32_t idForUID(const std::string& uid);

 private:
  uint32_t _type;
  uint32_t _deviceID;
  std::string _name;
  std::string _uuid;
  QXAudioDeviceDelegate* _delegate;  // unretained: the manager outlives its devices' use
  uint32_t inputs_;
  uint32_t outputs_;
  double rate_;
};

}  // namespace qv
