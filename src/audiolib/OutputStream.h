#pragma once
// A mono float output stream filled by a callback, played on an output device with a
// volume that can slide over time. The mono signal goes to every channel of the device.
// Thread contract: the fill callback and the volume ramp run on the driver thread
// (no locks, no allocation); control calls come from one control thread.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audiolib/AudioBackend.h"

namespace qv {

// Fills `bytes` bytes of mono floats at `buffer`; returns the bytes written (the rest
// is silence).
using StreamFill = std::function<uint32_t(uint32_t handle, void* buffer, uint32_t bytes)>;

class OutputStream {
 public:
  static constexpr uint32_t kMaxChunkFrames = 8192;

  OutputStream(uint32_t handle, const AudioDeviceInfo& device, AudioBackend& backend, uint32_t rate,
               StreamFill fill, const PortNames& portNames = {});
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  bool valid() const { return backendStream_ != nullptr; }
  int error() const { return error_; }
  uint32_t handle() const { return handle_; }
  uint32_t rate() const { return rate_; }
  const std::string& deviceDriver() const { return driver_; }

  // Plays from where it is (a playing stream goes on).
  bool play(int* error);
  bool pause(int* error);
  void stop();
  bool isActive() const;
  void setPortNames(const PortNames& names) {
    if (backendStream_ != nullptr) backendStream_->setPortNames(names);
  }

  void setVolume(float volume);
  // Moves the volume linearly to `target` over `milliseconds`.
  void slideVolume(float target, uint32_t milliseconds);
  float volume() const { return current_.load(std::memory_order_relaxed); }

 private:
  static void driverOutput(void* self, float* frames, uint32_t count);
  void render(float* frames, uint32_t count);

  uint32_t handle_;
  std::string driver_;
  uint32_t rate_;
  int deviceChannels_;
  StreamFill fill_;
  int error_ = kAudioOk;
  std::unique_ptr<BackendStream> backendStream_;
  std::vector<float> mono_;
  bool started_ = false;
  std::atomic<bool> playing_{false};

  // Volume commands from the control thread; the driver thread follows `generation_`.
  std::atomic<float> target_{1.0f};
  std::atomic<uint32_t> slideFrames_{0};
  std::atomic<uint32_t> generation_{0};
  std::atomic<float> current_{1.0f};
  uint32_t seenGeneration_ = 0;  // driver thread only
  float step_ = 0;
  uint32_t remaining_ = 0;
};

}  // namespace qv
