#pragma once
// One capture of all channels of a device as 32-bit floats, delivered to a callback every
// callback period, resampled to the requested rate when the device runs at another one.
// Thread contract: the driver thread only copies into `ring_` and the peak history (no
// locks, no allocation, no logging); the delivery thread (or the simulation's pump) reads
// the ring, resamples and calls the callback, holding `deliveryMutex_` while it does;
// control calls come from one control thread (the main thread) and may wait for a
// delivery in progress, never for the driver.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audiolib/AudioBackend.h"
#include "audiolib/PeakHistory.h"
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
                 uint32_t requestedRate, int channels, uint32_t periodMs, CaptureCallback callback,
                 const PortNames& portNames = {});
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

  // Starts or resumes deliveries. With `restart` nothing captured before the call is
  // delivered after it (neither what the ring holds nor the resampler's history). False
  // with kAudioErrorVanished once the device is gone.
  bool play(bool restart, int* error);
  // Once this returns no delivery reaches the callback until the next play(): a delivery
  // in progress is waited for (unless the callback itself pauses). False with
  // kAudioErrorAlready when already paused.
  bool pause(int* error);
  // Ends deliveries for good and waits for the delivery thread. Needs no lock of the
  // library; the device stream stays open until close().
  void stopDelivery();
  // Closes the device stream; called under the library's lock, after stopDelivery().
  void close();
  // Both of the above.
  void stop();
  // Under the library's lock, like close().
  void setPortNames(const PortNames& names) {
    if (backendStream_ != nullptr && !vanished_.load()) backendStream_->setPortNames(names);
  }

  // Told once when the device vanished during the capture: on the delivery thread, or on
  // the control thread when a restart finds the resampler cannot be rebuilt.
  void setEndedHandler(std::function<void()> handler);
  // Why the capture ended by itself (None while it runs or when its owner stopped it).
  CaptureEnd endReason() const { return endReason_.load(); }
  // What the capture lost since it was opened (any thread).
  ChannelLosses losses() const;
  // Peak of the last `seconds` of captured audio, up to the driver's latest period, folded
  // into two levels with kLevelStereo (else one level of all channels). False when the
  // channel is not playing.
  bool level(float* levels, float seconds, uint32_t flags) const;

 private:
  enum class Outcome { NotPlaying, Empty, Audio };

  static void driverInput(void* self, const float* frames, uint32_t count);
  static void pump(void* self);
  void deliveryLoop();
  // One callback period: what arrived goes to the callback.
  Outcome deliver();
  Outcome deliverLocked();
  void deliverFrames(const float* frames, uint32_t count);
  void vanish(CaptureEnd why);
  // Logs samples the driver handed over that were no audio (delivery side).
  void reportNotAudio();
  bool makeResampler();
  bool onDeliveryThread() const { return delivering_.load() == std::this_thread::get_id(); }
  void waitForDelivery();

  uint32_t handle_;
  std::string driver_;
  int channels_;
  uint32_t rate_ = 0;
  uint32_t deviceRate_ = 0;
  uint32_t periodMs_;
  CaptureCallback callback_;
  int error_ = kAudioOk;

  std::unique_ptr<ByteRing> ring_;
  std::unique_ptr<PeakHistory> peaks_;
  std::unique_ptr<BackendStream> backendStream_;
  soxr* resampler_ = nullptr;
  std::vector<float> resampled_;

  std::atomic<State> state_{State::Paused};
  std::atomic<bool> driverPaused_{true};
  std::atomic<bool> inDriver_{false};  // the driver is inside driverInput
  std::atomic<bool> vanished_{false};
  std::atomic<CaptureEnd> endReason_{CaptureEnd::None};
  // Frames the driver delivered while the ring had no room (driver thread only writes).
  std::atomic<uint64_t> droppedFrames_{0};
  std::atomic<uint64_t> xrunsAtEnd_{0};  // what the device had reported when it vanished
  // Samples the driver delivered that were no audio, taken as silence (driver thread only
  // writes); the delivery side logs them.
  std::atomic<uint64_t> notAudioSamples_{0};
  uint64_t notAudioLogged_ = 0;
  std::chrono::steady_clock::time_point notAudioLoggedAt_{};
  bool pumped_ = false;

  // Held for a whole delivery; a pause or a restart takes it to wait for one to end.
  std::mutex deliveryMutex_;
  std::atomic<std::thread::id> delivering_{};

  std::mutex endedMutex_;
  std::function<void()> ended_;

  std::thread delivery_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

}  // namespace qv
