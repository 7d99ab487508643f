#pragma once
// The recording and playback device lists, numbered for the life of the process: a device
// (known by its driver text) keeps its number while it is away and gets it back when it
// returns, so a number kept by a recorder or a generator never comes to mean another
// device. Playback number 0 is "No sound" (for decoding only).
// Thread contract: none of its own; the audio library calls it under its lock.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audiolib/AudioTypes.h"

namespace qv {

class DeviceRegistry {
 public:
  DeviceRegistry();

  // Takes what the backends list now. Devices not listed are disabled, new ones appended,
  // and one default per direction is marked. True when the present devices changed.
  bool update(const std::vector<AudioDeviceInfo>& present);

  // The present devices in number order (playback: "No sound" first).
  std::vector<AudioDeviceInfo> presentRecording() const { return present(recording_); }
  std::vector<AudioDeviceInfo> presentPlayback() const { return present(playback_); }

  // The device with that number, present or not; kDefaultDevice gives the present default.
  const AudioDeviceInfo* recording(uint32_t number) const { return find(recording_, number, true); }
  const AudioDeviceInfo* playback(uint32_t number) const { return find(playback_, number, false); }
  std::optional<uint32_t> recordingNumber(const std::string& driver) const {
    return numberOf(recording_, driver);
  }
  std::optional<uint32_t> playbackNumber(const std::string& driver) const {
    return numberOf(playback_, driver);
  }

 private:
  static std::vector<AudioDeviceInfo> present(const std::vector<AudioDeviceInfo>& list);
  static const AudioDeviceInfo* find(const std::vector<AudioDeviceInfo>& list, uint32_t number,
                                     bool input);
  static std::optional<uint32_t> numberOf(const std::vector<AudioDeviceInfo>& list,
                                          const std::string& driver);
  static void merge(std::vector<AudioDeviceInfo>& list, const std::vector<AudioDeviceInfo>& present,
                    bool input, size_t first);

  std::vector<AudioDeviceInfo> recording_;  // index = number
  std::vector<AudioDeviceInfo> playback_;   // index = number; [0] is "No sound"
};

}  // namespace qv
