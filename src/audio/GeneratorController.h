#pragma once
// Plays pink noise on an output device with a fade-in.
// Thread contract: control calls on the main thread; the stream callback on the audio
// library's driver thread is the only user of `generator` while the stream exists.
#include <cstdint>
#include <memory>

#include "audio/PinkNoiseGenerator.h"
#include "audiolib/AudioLibrary.h"

namespace qv {

class GeneratorController {
 public:
  // Its output's name where other programs see it (a JACK port).
  static constexpr const char* kPortName = "generator";

  explicit GeneratorController(AudioLibrary& library = AudioLibrary::shared());
  ~GeneratorController();
  GeneratorController(const GeneratorController&) = delete;
  GeneratorController& operator=(const GeneratorController&) = delete;

  void setSampleRate(int32_t rate) { _sampleRate = rate; }
  int32_t sampleRate() const { return _sampleRate; }
  // 0 and 0xFFFFFFFF both mean the default output.
  void setDeviceHandle(uint32_t device) { _deviceHandle = device; }
  uint32_t deviceHandle() const { return _deviceHandle; }
  void start();
  void stop();
  bool isOn() const;
  uint32_t streamChannel() const { return channel; }
  // The number of the output device the noise plays on (or last played on).
  uint32_t playingDevice() const { return outputDevice_; }
  // The audio library's code of the last start that failed (kAudioOk after a success).
  int lastError() const { return lastError_; }

 private:
  AudioLibrary& library_;
  std::unique_ptr<PinkNoiseGenerator> generator;
  uint32_t channel = 0;
  float _volume = 1.0f;
  float _fadeTime = 0.2f;
  int32_t _sampleRate = 44100;
  uint32_t _deviceHandle = 0;
  uint32_t outputDevice_ = kDefaultDevice;  // the number of the device the stream plays on
  int lastError_ = kAudioOk;
};

}  // namespace qv
