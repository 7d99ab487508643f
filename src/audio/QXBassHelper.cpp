#include "audio/QXBassHelper.h"

#include "audiolib/AudioErrorText.h"
#include "platform/Log.h"

namespace qv {

void QXBassHelper::initDecodingCapability(AudioLibrary& library) {
  if (!library.init(0, 44100) && AudioLibrary::errorCode() != kAudioErrorAlready) {
    qv::log("Could not BASS_Init() a decoding device!");
  }
}

uint32_t QXBassHelper::recordingDeviceHandleForUUID(const std::string& uid) const {
  AudioDeviceInfo info;
  // A device that went away keeps its number but is no longer a match: its UID then
  // falls back to the default like an unknown one.
  for (uint32_t i = 0; library_.recordGetDeviceInfo(i, &info); ++i) {
    if (info.enabled && info.driver == uid) return i;
  }
  return kDefaultDevice;
}

uint32_t QXBassHelper::playbackDeviceHandleForUUID(const std::string& uid) const {
  AudioDeviceInfo info;
  for (uint32_t i = 1; library_.getDeviceInfo(i, &info); ++i) {
    if (info.enabled && info.driver == uid) return i;
  }
  return kDefaultDevice;
}

uint32_t QXBassHelper::recordingDeviceChannelCount(uint32_t index) const {
  if (!library_.recordInit(index) && AudioLibrary::errorCode() != kAudioErrorAlready) {
    qv::log("Could init rec dev: %s (error %d)", audioErrorText(AudioLibrary::errorCode()).c_str(),
            AudioLibrary::errorCode());
  }
  if (!library_.recordSetDevice(index)) {
    qv::log("Could not set rec dev: %s (error %d)",
            audioErrorText(AudioLibrary::errorCode()).c_str(), AudioLibrary::errorCode());
    // Reading the info now would describe whichever device was selected before.
    return 0;
  }
  RecordInfo info;
  if (!library_.recordGetInfo(&info)) return 0;
  return info.formats >> 24;
}

std::optional<std::string> QXBassHelper::inputDeviceNameForUUID(const std::string& uid) const {
  if (uid.empty()) return std::nullopt;
  const uint32_t index = recordingDeviceHandleForUUID(uid);
  AudioDeviceInfo info;
  if (index == kDefaultDevice || !library_.recordGetDeviceInfo(index, &info) || info.name.empty()) {
    return std::nullopt;
  }
  return info.name;
}

std::string QXBassHelper::deviceTitle(const std::string& name, const std::string& uid) const {
  const uint32_t rate = library_.deviceRate(uid);
  return rate == 0 ? name : name + " (" + std::to_string(rate) + " Hz)";
}

std::optional<std::string> QXBassHelper::inputDeviceTitleForUUID(const std::string& uid) const {
  const auto name = inputDeviceNameForUUID(uid);
  if (!name) return std::nullopt;
  return deviceTitle(*name, uid);
}

}  // namespace qv
