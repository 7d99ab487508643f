#include "audio/QXAudioDeviceInfo.h"

namespace qv {

QXAudioDeviceInfo::QXAudioDeviceInfo(const AudioDeviceInfo& device, QXAudioDeviceDelegate* delegate)
    : _type(device.isVirtual                                   ? kTransportVirtual
            : device.hostApi.find("JACK") != std::string::npos ? kTransportJack
            : device.hostApi.find("ALSA") != std::string::npos ? kTransportAlsa
                                                               : kTransportUnknown),
      _deviceID(idForUID(device.driver)),
      _name(device.name),
      _uuid(device.driver),
      _delegate(delegate),
      inputs_(static_cast<uint32_t>(device.inputChannels)),
      outputs_(static_cast<uint32_t>(device.outputChannels)),
      rate_(device.defaultRate) {}

uint32_t QXAudioDeviceInfo::idForUID(const std::string& uid) {
  // FNV-1a; 0 is kept for "no device".
  uint32_t h = 2166136261u;
  for (unsigned char c : uid) {
    h ^= c;
    h *= 16777619u;
  }
  return h == 0 ? 1 : h;
}

}  // namespace qv
