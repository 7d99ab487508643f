#pragma once
// Device lookups by UID over the audio library's device lists, and the decoding set-up.
// Thread contract: main thread (or any one control thread); no state of its own.
#include <cstdint>
#include <optional>
#include <string>

#include "audiolib/AudioLibrary.h"

namespace qv {

class QXBassHelper {
 public:
  explicit QXBassHelper(AudioLibrary& library = AudioLibrary::shared()) : library_(library) {}

  static void initDecodingCapability(AudioLibrary& library = AudioLibrary::shared());
  // kDefaultDevice (0xFFFFFFFF) when no present device has that UID.
  uint32_t recordingDeviceHandleForUUID(const std::string& uid) const;
  uint32_t playbackDeviceHandleForUUID(const std::string& uid) const;
  // Opens and selects the capture device (it stays open) and returns its channel count,
  // 0 when it cannot be read.
  uint32_t recordingDeviceChannelCount(uint32_t index) const;
  std::optional<std::string> inputDeviceNameForUUID(const std::string& uid) const;
  // A device as the user sees it: its name and the rate it runs at ("JACK (48000 Hz)"),
  // the rate of our own capture or output on it where there is one.
  std::string deviceTitle(const std::string& name, const std::string& uid) const;
  std::optional<std::string> inputDeviceTitleForUUID(const std::string& uid) const;

 private:
  AudioLibrary& library_;
};

}  // namespace qv
