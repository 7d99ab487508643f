#pragma once
// Plain value types shared by the audio library and its backends; no behaviour, no threads.
#include <cstdint>
#include <string>

namespace qv {

// Error codes of the audio library, read with AudioLibrary::errorCode() after a failed
// call. Callers log the number, so the values never change.
enum AudioError : int {
  kAudioOk = 0,
  kAudioErrorMemory = 1,       // a buffer could not be allocated
  kAudioErrorDriver = 3,       // the backend refused to open or start the device
  kAudioErrorHandle = 5,       // no channel or stream with that handle
  kAudioErrorFormat = 6,       // rate or channel count the device cannot run
  kAudioErrorInit = 8,         // the device has not been initialised
  kAudioErrorAlready = 14,     // already initialised, already paused
  kAudioErrorNoChannels = 18,  // the device reports no channel in that direction
  kAudioErrorDevice = 23,      // no device with that index
  kAudioErrorNotPlaying = 24,  // the channel is not playing: paused, stopped, or its device
                               // went away while in use
  kAudioErrorVanished = kAudioErrorNotPlaying,
  kAudioErrorUnknown = -1,
};

// Version word the recorder checks; the high 16 bits are the interface generation.
constexpr uint32_t kAudioLibraryVersion = 0x02040100;

// Device index that selects the default device of a direction.
constexpr uint32_t kDefaultDevice = 0xFFFFFFFF;

struct AudioDeviceInfo {
  std::string name;
  // "<host API>:<device name>"; the settings and the device manager key devices by it.
  std::string driver;
  std::string hostApi;
  int inputChannels = 0;
  int outputChannels = 0;
  double defaultRate = 0;
  bool isDefaultInput = false;
  bool isDefaultOutput = false;
  // Backend-private identity (a PortAudio device index, or 0 for the virtual device).
  int backendIndex = -1;
  bool isVirtual = false;
  // False for a device that went away: it keeps its number, and gets it back on return.
  bool enabled = true;
};

struct RecordInfo {
  uint32_t freq = 0;     // the device's current rate
  uint32_t formats = 0;  // channel count in the high 8 bits
};

struct OutputInfo {
  uint32_t freq = 0;  // the output's current rate
  uint32_t channels = 0;
};

struct ChannelInfo {
  uint32_t freq = 0;  // the rate the channel's callback really sees
  uint32_t chans = 0;
};

// Why a capture ended by itself (it was not stopped by its owner).
enum class CaptureEnd : int {
  None = 0,
  DeviceStopped = 1,  // the backend says the device is gone (server stopped, unplugged)
  NoAudio = 2,        // the device stopped calling back while it was meant to run
  Failed = 3,         // the capture could not go on (its resampler could not be rebuilt)
};

// Audio a channel lost since it was opened: frames that found no room in its ring (the
// reader fell behind), and the dropouts the device itself reported (JACK's xruns,
// PortAudio's overflow and underflow flags).
struct ChannelLosses {
  uint64_t droppedFrames = 0;
  uint64_t xruns = 0;
};

// Level request flag: fold all channels into two levels (odd-numbered channels left,
// even-numbered right; a mono channel gives the same level twice).
constexpr uint32_t kLevelStereo = 2;

}  // namespace qv
