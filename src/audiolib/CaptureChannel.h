#pragma once
// One capture of all channels of a device as 32-bit floats, delivered to a callback every
// callback period, resampled to the requested rate when the device runs at another one.
// Thread contract: the driver thread only copies into `ring_` (no locks, no allocation,
// no logging); the delivery thread (or the simulation's pump) reads the ring, resamples
// and calls the callback; control calls come from one control thread (the main thread).
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audiolib/AudioBackend.h"
#include "platform/ByteRing.h"

struct soxr;

namespace qv {

// Called with the channel's handle and interleaved floats of all channels; returning
// false ends the capture.
using CaptureCallback = std::function<bool(uint32_t handle, const void* data, uint32_t bytes)>;

class CaptureChannel {
 public:
  enum class State { Stopped, Playing, Paused };
  static constexpr uint32_t kMaxCallbackFrames = 15360;

  // Opens the device; valid() tells whether that worked (error() gives the code).
  // A null callback makes a channel without deliveries (levels only).
  CaptureChannel(uint32_t handle, const AudioDeviceInfo& device, AudioBackend& backend,
                 uint32_t requestedRate, int channels, uint32_t periodMs, CaptureCallback callback);
  ~CaptureChannel();
  CaptureChannel(const CaptureChannel&) = delete;
  CaptureChannel& operator=(const CaptureChannel&) = delete;

  bool valid() const { return backendStream_ != nullptr && error_ == kAudioOk; }
  int error() const { return error_; }
  uint32_t handle() const { return handle_; }
  uint32_t rate() const { return rate_; }
  uint32_t deviceRate() const { return deviceRate_; }
  uint32_t channels() const { return static_cast<uint32_t>(channels_); }
  const std::string& deviceDriver() const { return driver_; }
  State state() const { return state_.load(); }

  // Starts or resumes deliveries; `restart` drops what is buffered. False with
  // kAudioErrorVanished once the device is gone.
  bool play(bool restart, int* error);
  // False with kAudioErrorAlready when already paused.
  bool pause(int* error);
  // Ends the capture for good (the device stream is closed).
  void stop();

  // Told once, on the delivery thread, when the device vanished during the capture.
  void setEndedHandler(std::function<void()> handler);
  // Peak of the last `seconds` of delivered audio, folded into two levels with
  // kLevelStereo (else one level of all channels).
  bool level(float* levels, float seconds, uint32_t flags) const;

  // One callback period: what arrived goes to the callback. Called by the delivery
  // thread, or by a simulated backend's pump.
  void deliver();

 private:
  static void driverInput(void* self, const float* frames, uint32_t count);
  static void pump(void* self);
  void deliveryLoop();
  void emit(const float* frames, uint32_t count);
  void vanish(const char* why);
  bool makeResampler();

  uint32_t handle_;
  std::string driver_;
  int channels_;
  uint32_t rate_ = 0;
  uint32_t deviceRate_ = 0;
  uint32_t periodMs_;
  CaptureCallback callback_;
  int error_ = kAudioOk;

  std::unique_ptr<ByteRing> ring_;
  std::unique_ptr<BackendStream> backendStream_;
  soxr* resampler_ = nullptr;
  std::vector<float> resampled_;

  std::atomic<State> state_{State::Paused};
  std::atomic<bool> restartPending_{false};
  std::atomic<bool> driverPaused_{true};
  std::atomic<bool> vanished_{false};
  bool pumped_ = false;
  double silentSeconds_ = 0;  // delivery thread only

  std::mutex endedMutex_;
  std::function<void()> ended_;

  std::thread delivery_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;

  // The newest delivered frames, for level readings.
  mutable std::mutex levelMutex_;
  std::vector<float> levelHistory_;
  size_t levelPos_ = 0;
  size_t levelFilled_ = 0;
};

}  // namespace qv
