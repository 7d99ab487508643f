#include "audio/GeneratorController.h"

#include "audiolib/AudioErrorText.h"
#include "platform/Log.h"

namespace qv {

GeneratorController::GeneratorController(AudioLibrary& library) : library_(library) {
  library_.setConfig(51, 1);
}

GeneratorController::~GeneratorController() { stop(); }

void GeneratorController::start() {
  outputDevice_ = _deviceHandle == 0 ? kDefaultDevice : _deviceHandle;
  int initError = kAudioOk;  // why the output could not be opened, when it could not
  if (!library_.init(outputDevice_, static_cast<uint32_t>(_sampleRate))) {
    const int err = AudioLibrary::errorCode();
    initError = err;
    if (err == kAudioErrorAlready) {
      initError = kAudioOk;
      library_.setDevice(outputDevice_);
      library_.start();
    } else {
      qv::log("Generator: Error initing bass: %d (%s)", err, audioErrorText(err).c_str());
      if (err == kAudioErrorDevice && outputDevice_ != kDefaultDevice) {
        // The chosen output has gone; the noise is still wanted, so play on the default.
        outputDevice_ = kDefaultDevice;
        if (library_.init(outputDevice_, static_cast<uint32_t>(_sampleRate))) {
          initError = kAudioOk;
        } else if (AudioLibrary::errorCode() == kAudioErrorAlready) {
          initError = kAudioOk;
          library_.setDevice(outputDevice_);
          library_.start();
        }
      }
    }
  }
  // The number of the device really chosen (not "the default", which may later mean
  // another device), so that stop() acts on this one.
  const uint32_t current = library_.getDevice();
  if (current != kDefaultDevice) outputDevice_ = current;
  if (channel != 0) {
    library_.channelStop(channel);
    library_.channelFree(channel);
    channel = 0;
  }
  OutputInfo info;
  if (library_.getInfo(&info)) _sampleRate = static_cast<int32_t>(info.freq);
  // The filters are designed for the rate they run at; a restart on an output of another
  // rate designs them anew (the same rate keeps the running filter states).
  const auto rate = static_cast<float>(_sampleRate);
  if (!generator || generator->rate() != rate)
    generator = std::make_unique<PinkNoiseGenerator>(rate);
  PinkNoiseGenerator* gen = generator.get();
  // Seeded here, not by the first fill on the audio thread.
  SubtractiveRandom* random = &SubtractiveRandom::shared();
  channel = library_.streamCreate(
      static_cast<uint32_t>(_sampleRate),
      [gen, random](uint32_t, void* buffer, uint32_t bytes) -> uint32_t {
        gen->generate(static_cast<float*>(buffer), bytes / 4, *random);
        return bytes;
      },
      kPortName);
  if (channel == 0) {
    lastError_ = initError != kAudioOk ? initError : AudioLibrary::errorCode();
  } else {
    lastError_ = kAudioOk;
  }
  library_.channelSetVolume(channel, 0);
  if (library_.channelPlay(channel, false)) {
    library_.channelSlideVolume(channel, _volume, static_cast<uint32_t>(_fadeTime * 1000));
  } else if (channel != 0) {
    lastError_ = AudioLibrary::errorCode();
  }
}

void GeneratorController::stop() {
  if (channel != 0) {
    library_.channelStop(channel);
    library_.channelFree(channel);
    channel = 0;
    library_.setDevice(outputDevice_);
    library_.stop();
  }
  generator.reset();
}

bool GeneratorController::isOn() const { return channel != 0 && library_.channelIsActive(channel); }

}  // namespace qv
