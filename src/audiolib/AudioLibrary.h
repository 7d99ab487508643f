#pragma once
// The process's audio library: device lists over every backend (PortAudio's host APIs,
// a JACK server, the virtual sound system), capture channels and output streams named by handles,
// and a rescan thread that follows device changes. Thread contract: every call is thread-safe (one
// library lock, never held while a capture's delivery thread is joined); errorCode() is per thread,
// like errno.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audiolib/AudioTypes.h"
#include "audiolib/CaptureChannel.h"
#include "audiolib/DeviceRegistry.h"
#include "audiolib/OutputStream.h"

namespace qv {

class JackBackend;
class PortAudioBackend;
class VirtualSoundSystem;

class AudioLibrary {
 public:
  struct Options {
    std::string clientName = "quorvex";  // our JACK client's name
    bool portAudio = true;               // false: no PortAudio devices
    bool virtualSoundSystem = true;      // false: the virtual device is not listed
    bool simulatedTime = false;          // the virtual sound system renders on demand
    double rescanSeconds = 0.5;          // 0: no rescan thread
  };

  // The process-wide library, created on first use with the options given before.
  static AudioLibrary& shared();
  // Options for shared(); only before its first use (else false).
  static bool configure(const Options& options);

  explicit AudioLibrary(const Options& options);
  ~AudioLibrary();
  AudioLibrary(const AudioLibrary&) = delete;
  AudioLibrary& operator=(const AudioLibrary&) = delete;

  uint32_t version() const { return kAudioLibraryVersion; }
  void setConfig(uint32_t option, uint32_t value);
  uint32_t config(uint32_t option) const;
  // The code of the last failed call on this thread (kAudioOk after a success).
  static int errorCode();

  // Devices. Recording devices are numbered from 0; playback device 0 is "No sound"
  // (for decoding only), real outputs from 1. A number names one device for the life of
  // the process: a device that goes away keeps it (listed by number, not `enabled`) and
  // gets it back on return. kDefaultDevice selects the present default.
  // The lists hold the present devices only.
  std::vector<AudioDeviceInfo> recordingDevices() const;
  std::vector<AudioDeviceInfo> playbackDevices() const;
  bool recordGetDeviceInfo(uint32_t index, AudioDeviceInfo* info) const;
  bool getDeviceInfo(uint32_t index, AudioDeviceInfo* info) const;
  // Told (on the rescan thread) after the lists changed. Returns an id for removal.
  int addDevicesChangedListener(std::function<void()> listener);
  void removeDevicesChangedListener(int id);
  // Scans now; true when the lists were rebuilt.
  bool rescan();

  // Capture.
  bool recordInit(uint32_t device);
  bool recordSetDevice(uint32_t device);
  uint32_t recordGetDevice() const;  // kDefaultDevice when none selected
  bool recordGetInfo(RecordInfo* info) const;
  bool recordFree();
  // Starts a capture on the selected device: `channels` float channels at `rate` (the
  // device's own rate resampled when it cannot run at `rate`). Returns the handle, 0 on
  // failure. `portNames` name the inputs where other programs see them (JACK).
  uint32_t recordStart(uint32_t rate, uint32_t channels, bool paused, uint32_t periodMs,
                       CaptureCallback callback, const PortNames& portNames = {});

  // Output devices.
  bool init(uint32_t device, uint32_t rate);
  bool setDevice(uint32_t device);
  uint32_t getDevice() const;
  bool start();
  bool stop();
  bool getInfo(OutputInfo* info) const;
  bool free();
  // A mono float stream on the selected output, at the output's current rate; `portName`
  // names it where other programs see it (JACK).
  uint32_t streamCreate(uint32_t rate, StreamFill fill, const std::string& portName = {});

  // Channels and streams by handle.
  bool channelPlay(uint32_t handle, bool restart);
  bool channelPause(uint32_t handle);
  bool channelStop(uint32_t handle);
  bool channelFree(uint32_t handle);
  bool channelGetInfo(uint32_t handle, ChannelInfo* info) const;
  bool channelIsActive(uint32_t handle) const;
  bool channelSetVolume(uint32_t handle, float volume);
  bool channelSlideVolume(uint32_t handle, float volume, uint32_t milliseconds);
  bool channelGetLevel(uint32_t handle, float* levels, float seconds, uint32_t flags) const;
  bool channelSetEndedHandler(uint32_t handle, std::function<void()> handler);
  // Why a capture ended by itself (CaptureEnd::None while it runs).
  CaptureEnd channelEndReason(uint32_t handle) const;
  // What a capture lost since it was opened: frames without room in its ring, and the
  // dropouts its device reported.
  bool channelGetLosses(uint32_t handle, ChannelLosses* losses) const;
  // Renames the channel's or stream's ports (JACK): one name per captured input, one for a
  // stream; an empty name gives a port its own back. Other programs may go on seeing the
  // names given at the start (PipeWire's JACK).
  bool channelSetPortNames(uint32_t handle, const PortNames& names);
  // The rate a device runs at: that of our capture or output on it, else its own rate;
  // 0 for a device that is not there.
  uint32_t deviceRate(const std::string& driver) const;
  std::shared_ptr<CaptureChannel> capture(uint32_t handle) const;
  std::shared_ptr<OutputStream> stream(uint32_t handle) const;

  // The simulated sound system (render() drives it in simulated time).
  VirtualSoundSystem& virtualSoundSystem();

 private:
  bool rebuildLocked();  // true when the present devices changed
  void notifyListeners();
  void rescanLoop(double seconds);
  // The selected device when it is present; lock held.
  const AudioDeviceInfo* currentRecordingLocked() const;
  const AudioDeviceInfo* currentPlaybackLocked() const;
  AudioBackend& backendFor(const AudioDeviceInfo& info);

  Options options_;
  mutable std::mutex mutex_;
  std::unique_ptr<PortAudioBackend> portAudio_;
  std::unique_ptr<JackBackend> jack_;
  std::unique_ptr<VirtualSoundSystem> virtual_;
  DeviceRegistry devices_;
  std::map<uint32_t, uint32_t> config_;

  std::set<std::string> recordOpen_;  // by driver text
  std::string recordCurrent_;
  struct OutputDevice {
    uint32_t rate = 0;
    bool running = true;
  };
  std::map<std::string, OutputDevice> outputOpen_;
  std::string outputCurrent_;
  bool outputCurrentSet_ = false;

  std::map<uint32_t, std::shared_ptr<CaptureChannel>> captures_;
  std::map<uint32_t, std::shared_ptr<OutputStream>> streams_;
  uint32_t nextHandle_ = 0x10000;

  std::mutex listenerMutex_;
  std::map<int, std::function<void()>> listeners_;
  int nextListener_ = 1;

  std::string signature_;
  std::thread rescanThread_;
  std::mutex rescanMutex_;
  std::condition_variable rescanWake_;
  bool rescanStop_ = false;
};

}  // namespace qv
