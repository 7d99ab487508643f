#include "audiolib/OutputStream.h"

#include <algorithm>

namespace qv {

OutputStream::OutputStream(uint32_t handle, const AudioDeviceInfo& device, AudioBackend& backend,
                           uint32_t rate, StreamFill fill, const PortNames& portNames)
    : handle_(handle),
      driver_(device.driver),
      rate_(rate),
      deviceChannels_(std::min(device.outputChannels, 2)),
      fill_(std::move(fill)),
      mono_(kMaxChunkFrames) {
  if (deviceChannels_ <= 0) {
    error_ = kAudioErrorNoChannels;
    return;
  }
  int err = kAudioOk;
  backendStream_ = backend.openOutput(device, deviceChannels_, rate, &OutputStream::driverOutput,
                                      this, portNames, &err);
  if (backendStream_ == nullptr) error_ = err == kAudioOk ? kAudioErrorDriver : err;
}

OutputStream::~OutputStream() { stop(); }

bool OutputStream::play(int* error) {
  if (backendStream_ == nullptr) {
    *error = kAudioErrorHandle;
    return false;
  }
  playing_.store(true);
  if (!started_) {
    if (!backendStream_->start()) {
      playing_.store(false);
      *error = kAudioErrorDriver;
      return false;
    }
    started_ = true;
  }
  return true;
}

bool OutputStream::pause(int* error) {
  if (!playing_.exchange(false)) {
    *error = kAudioErrorAlready;
    return false;
  }
  return true;
}

void OutputStream::stop() {
  playing_.store(false);
  // A device that went away cannot be closed without waiting forever.
  if (started_ && backendStream_ != nullptr && !backendStream_->isAlive())
    backendStream_->abandon();
  backendStream_.reset();
}

bool OutputStream::isActive() const {
  return playing_.load() && backendStream_ != nullptr && backendStream_->isAlive();
}

void OutputStream::setVolume(float volume) { slideVolume(volume, 0); }

void OutputStream::slideVolume(float target, uint32_t milliseconds) {
  target_.store(target);
  slideFrames_.store(static_cast<uint32_t>(static_cast<uint64_t>(milliseconds) * rate_ / 1000));
  generation_.fetch_add(1, std::memory_order_release);
  // Not yet running: nothing follows the command, so apply a jump at once.
  if (!started_ && milliseconds == 0) current_.store(target);
}

void OutputStream::driverOutput(void* self, float* frames, uint32_t count) {
  static_cast<OutputStream*>(self)->render(frames, count);
}

void OutputStream::render(float* frames, uint32_t count) {
  const uint32_t gen = generation_.load(std::memory_order_acquire);
  float volume = current_.load(std::memory_order_relaxed);
  if (gen != seenGeneration_) {
    seenGeneration_ = gen;
    const float target = target_.load();
    remaining_ = slideFrames_.load();
    if (remaining_ == 0) {
      volume = target;
    } else {
      step_ = (target - volume) / static_cast<float>(remaining_);
    }
  }
  const bool playing = playing_.load(std::memory_order_relaxed);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t n = std::min(count - done, kMaxChunkFrames);
    uint32_t filled = 0;
    if (playing && fill_) filled = fill_(handle_, mono_.data(), n * 4) / 4;
    filled = std::min(filled, n);
    std::fill(mono_.begin() + filled, mono_.begin() + n, 0.0f);
    for (uint32_t i = 0; i < n; ++i) {
      if (remaining_ > 0) {
        volume += step_;
        // The last step lands exactly on the target, so a full slide ends at unity.
        if (--remaining_ == 0) volume = target_.load(std::memory_order_relaxed);
      }
      const float v = playing ? mono_[i] * volume : 0.0f;
      for (int c = 0; c < deviceChannels_; ++c)
        frames[static_cast<size_t>(done + i) * deviceChannels_ + c] = v;
    }
    done += n;
  }
  current_.store(volume, std::memory_order_relaxed);
}

}  // namespace qv
