#pragma once
// Devices and streams of PortAudio's host APIs (ALSA on Linux; JACK goes through
// JackBackend).
// Thread contract: everything but the stream callbacks is called under the library's
// lock, and PortAudio itself only under one lock for the whole process (libraries that
// rescan on their own threads share it); its callbacks only forward pointers.
#include <atomic>
#include <string>

#include "audiolib/AudioBackend.h"

namespace qv {

class PortAudioBackend final : public AudioBackend {
 public:
  PortAudioBackend();
  ~PortAudioBackend() override;

  bool initialized() const { return initialized_; }
  // Terminates and initialises PortAudio again so that devices added since become
  // visible (a JACK server never does: JackBackend reaches it). Refused (false) while a
  // stream is open or after a stream had to be abandoned: PortAudio would close it and
  // wait forever.
  bool reinitialize();
  int openStreamCount() const { return openStreams_.load(); }
  bool poisoned() const { return poisoned_.load(); }

  void appendDevices(std::vector<AudioDeviceInfo>& devices) override;
  bool supportsRate(const AudioDeviceInfo& device, bool input, int channels, double rate) override;
  std::unique_ptr<BackendStream> openInput(const AudioDeviceInfo& device, int channels, double rate,
                                           DriverInputFn fn, DriverPumpFn pump, uint32_t pumpFrames,
                                           void* user, const PortNames& names, int* error) override;
  std::unique_ptr<BackendStream> openOutput(const AudioDeviceInfo& device, int channels,
                                            double rate, DriverOutputFn fn, void* user,
                                            const PortNames& names, int* error) override;

  // What decides whether the device lists may have changed: the ALSA device nodes and
  // whether a JACK server answers on its socket.
  static std::string deviceSignature();
  static bool jackServerRunning();

  // Bookkeeping for the streams (called by them).
  void streamClosed() { openStreams_.fetch_sub(1); }
  void streamAbandoned() { poisoned_.store(true); }

 private:
  bool initialized_ = false;
  std::atomic<int> openStreams_{0};
  std::atomic<bool> poisoned_{false};
};

}  // namespace qv
