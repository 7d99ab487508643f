#pragma once
// A simulated sound system: an output whose signal reaches a measurement microphone
// through a fixed room (input channel 0) and is looped back as the reference (input
// channel 1). Deterministic: every noise source is seeded.
// Thread contract: in real time, its own thread renders 10 ms ticks, four at each wake-up
// (every 40 ms), and calls the streams' driver functions (no locks, no allocation there); in
// simulated time the caller of render() is that thread. Streams are opened and closed under the
// library's lock; closing waits for a running tick to end.
#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "audiolib/AudioBackend.h"

namespace qv {

class VirtualSoundSystem final : public AudioBackend {
 public:
  static constexpr uint32_t kRate = 44100;
  static constexpr uint32_t kTickFrames = 441;       // 10 ms
  static constexpr uint32_t kTicksPerWake = 4;       // in real time
  static constexpr uint32_t kDirectDelay = 132;      // 3 ms at 44100 Hz
  static constexpr uint32_t kReflectionDelay = 573;  // direct + 441 samples (10 ms)
  static constexpr float kDirectGain = 0.5f;
  static constexpr float kReflectionGain = 0.2f;
  static constexpr float kNoiseAmplitude = 0.001f;
  static constexpr const char* kHostApi = "Virtual";
  static constexpr const char* kDeviceName = "Virtual Sound System";

  VirtualSoundSystem();
  ~VirtualSoundSystem() override;

  // In simulated time no thread runs: render() advances the system by `frames` and
  // calls every capture's pump each time a callback period of frames has passed.
  // Switch before streams are opened.
  void setSimulatedTime(bool simulated);
  bool simulatedTime() const { return simulated_.load(); }
  void render(uint64_t frames);
  uint64_t renderedFrames() const { return rendered_.load(); }

  void appendDevices(std::vector<AudioDeviceInfo>& devices) override;
  bool supportsRate(const AudioDeviceInfo& device, bool input, int channels, double rate) override;
  std::unique_ptr<BackendStream> openInput(const AudioDeviceInfo& device, int channels, double rate,
                                           DriverInputFn fn, DriverPumpFn pump, uint32_t pumpFrames,
                                           void* user, const PortNames& names, int* error) override;
  std::unique_ptr<BackendStream> openOutput(const AudioDeviceInfo& device, int channels,
                                            double rate, DriverOutputFn fn, void* user,
                                            const PortNames& names, int* error) override;

  struct Stream;  // one registered input or output (internal)
  void detach(Stream* stream);

 private:
  static constexpr int kSlots = 8;
  static constexpr uint32_t kHistory = 1024;  // > kReflectionDelay, a power of two

  void ensureThread();
  void tick(uint32_t frames);
  float builtInPink();
  float nextWhite();

  std::array<std::atomic<Stream*>, kSlots> inputs_{};
  std::array<std::atomic<Stream*>, kSlots> outputs_{};
  std::atomic<bool> inTick_{false};
  std::atomic<bool> simulated_{false};
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> rendered_{0};
  std::thread thread_;

  // Room state, touched only by the rendering thread.
  std::vector<float> reference_, microphone_, outScratch_, inScratch_, history_;
  uint32_t historyPos_ = 0;
  double hp_[4] = {0, 0, 0, 0}, lp_[4] = {0, 0, 0, 0};
  double hpCoef_[5], lpCoef_[5];
  uint32_t whiteState_ = 0x5EED1234u;
  uint32_t noiseState_ = 0x0BADC0DEu;
  float pink_[7] = {0, 0, 0, 0, 0, 0, 0};
};

}  // namespace qv
