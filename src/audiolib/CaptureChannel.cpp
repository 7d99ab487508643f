#include "audiolib/CaptureChannel.h"

#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/Log.h"

namespace qv {
namespace {
constexpr double kRingSeconds = 2.0;
constexpr double kLevelSeconds = 2.0;
// A running device that delivers nothing for this long has gone away (an unplugged ALSA
// device simply stops calling back).
constexpr double kSilenceLimitSeconds = 2.0;
}  // namespace

CaptureChannel::CaptureChannel(uint32_t handle, const AudioDeviceInfo& device,
                               AudioBackend& backend, uint32_t requestedRate, int channels,
                               uint32_t periodMs, CaptureCallback callback)
    : handle_(handle),
      driver_(device.driver),
      channels_(channels),
      periodMs_(periodMs == 0 ? 125 : periodMs),
      callback_(std::move(callback)) {
  if (channels_ <= 0 || channels_ > device.inputChannels) {
    error_ = channels_ <= 0 ? kAudioErrorNoChannels : kAudioErrorFormat;
    return;
  }
  rate_ = requestedRate;
  deviceRate_ = requestedRate;
  if (!backend.supportsRate(device, true, channels_, requestedRate)) {
    deviceRate_ = static_cast<uint32_t>(std::lround(device.defaultRate));
    if (deviceRate_ == 0) {
      error_ = kAudioErrorFormat;
      return;
    }
  }
  if (deviceRate_ != rate_ && !makeResampler()) {
    error_ = kAudioErrorFormat;
    return;
  }
  const auto ringFrames = static_cast<size_t>(deviceRate_ * kRingSeconds);
  ring_ = std::make_unique<ByteRing>(static_cast<int32_t>(ringFrames * channels_ * 4));
  if (!ring_->valid()) {
    error_ = kAudioErrorMemory;
    return;
  }
  const size_t maxIn = static_cast<size_t>(ring_->length) / (channels_ * 4);
  resampled_.resize((maxIn * rate_ / deviceRate_ + 4096) * channels_);
  levelHistory_.assign(static_cast<size_t>(rate_ * kLevelSeconds) * channels_, 0.0f);

  const uint32_t pumpFrames = static_cast<uint32_t>(std::lround(deviceRate_ * periodMs_ / 1000.0));
  int err = kAudioOk;
  backendStream_ = backend.openInput(device, channels_, deviceRate_, &CaptureChannel::driverInput,
                                     &CaptureChannel::pump, pumpFrames, this, &err);
  if (backendStream_ == nullptr) {
    error_ = err == kAudioOk ? kAudioErrorDriver : err;
    return;
  }
  // Running the device from creation lets the driver settle (and JACK connect) before
  // the first resume; while paused the driver's frames are dropped.
  if (!backendStream_->start()) {
    backendStream_.reset();
    error_ = kAudioErrorDriver;
    return;
  }
  pumped_ = backendStream_->drivesDelivery();
  if (!pumped_) delivery_ = std::thread([this] { deliveryLoop(); });
}

bool CaptureChannel::makeResampler() {
  if (resampler_ != nullptr) soxr_delete(resampler_);
  soxr_error_t err = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
  // One thread: a capture's channels are cheap to resample, and the delivery thread must
  // not fan out into an OpenMP pool.
  soxr_runtime_spec_t rt = soxr_runtime_spec(1);
  resampler_ =
      soxr_create(deviceRate_, rate_, static_cast<unsigned>(channels_), &err, &io, &q, &rt);
  if (resampler_ == nullptr) {
    qv::log("Capture: cannot resample %u Hz to %u Hz: %s", deviceRate_, rate_, err);
    return false;
  }
  return true;
}

CaptureChannel::~CaptureChannel() {
  stop();
  if (resampler_ != nullptr) soxr_delete(resampler_);
}

void CaptureChannel::driverInput(void* self, const float* frames, uint32_t count) {
  auto* c = static_cast<CaptureChannel*>(self);
  if (c->driverPaused_.load(std::memory_order_relaxed)) return;
  int32_t space = 0;
  void* head = c->ring_->head(&space);
  const int32_t frameBytes = c->channels_ * 4;
  const int32_t bytes =
      std::min(static_cast<int32_t>(count) * frameBytes, space / frameBytes * frameBytes);
  if (bytes <= 0) return;
  std::memcpy(head, frames, static_cast<size_t>(bytes));
  c->ring_->produce(bytes);
}

void CaptureChannel::pump(void* self) { static_cast<CaptureChannel*>(self)->deliver(); }

bool CaptureChannel::play(bool restart, int* error) {
  if (vanished_.load() || state_.load() == State::Stopped || backendStream_ == nullptr) {
    *error = vanished_.load() ? kAudioErrorVanished : kAudioErrorHandle;
    return false;
  }
  if (restart) restartPending_.store(true);
  driverPaused_.store(false);
  state_.store(State::Playing);
  return true;
}

bool CaptureChannel::pause(int* error) {
  State s = state_.load();
  if (s == State::Paused) {
    *error = kAudioErrorAlready;
    return false;
  }
  if (s == State::Stopped) {
    *error = vanished_.load() ? kAudioErrorVanished : kAudioErrorHandle;
    return false;
  }
  state_.store(State::Paused);
  driverPaused_.store(true);
  return true;
}

void CaptureChannel::stop() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (delivery_.joinable()) {
    if (delivery_.get_id() == std::this_thread::get_id()) {
      delivery_.detach();
    } else {
      delivery_.join();
    }
  }
  state_.store(State::Stopped);
  driverPaused_.store(true);
  if (backendStream_ != nullptr && !vanished_.load() && !backendStream_->isAlive()) {
    backendStream_->abandon();
  }
  backendStream_.reset();
}

void CaptureChannel::setEndedHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(endedMutex_);
  ended_ = std::move(handler);
}

void CaptureChannel::deliveryLoop() {
  const auto period = std::chrono::milliseconds(periodMs_);
  auto next = std::chrono::steady_clock::now() + period;
  std::unique_lock<std::mutex> lock(wakeMutex_);
  while (!stopping_) {
    if (wake_.wait_until(lock, next, [this] { return stopping_; })) break;
    next += period;
    lock.unlock();
    if (!backendStream_->isAlive()) {
      vanish("the device stopped");
    } else {
      deliver();
    }
    lock.lock();
    if (vanished_.load()) break;
  }
}

void CaptureChannel::vanish(const char* why) {
  if (vanished_.exchange(true)) return;
  qv::log("Capture: device %s vanished (%s); capture stopped", driver_.c_str(), why);
  state_.store(State::Stopped);
  driverPaused_.store(true);
  backendStream_->abandon();
  std::function<void()> ended;
  {
    std::lock_guard<std::mutex> lock(endedMutex_);
    ended = ended_;
  }
  if (ended) ended();
}

void CaptureChannel::deliver() {
  if (vanished_.load()) return;
  // While paused the driver's frames were dropped and what was buffered discarded, so
  // a restart only has to forget the resampler's history. A fresh resampler does that
  // (soxr_clear leaves this soxr version unable to process).
  if (restartPending_.exchange(false) && resampler_ != nullptr && !makeResampler()) {
    vanish("the resampler could not be rebuilt");
    return;
  }
  int32_t avail = 0;
  const auto* in = static_cast<const float*>(ring_->tail(&avail));
  const int32_t frameBytes = channels_ * 4;
  const auto frames = static_cast<uint32_t>(avail / frameBytes);
  if (state_.load() != State::Playing) {
    ring_->consume(static_cast<int32_t>(frames) * frameBytes);
    silentSeconds_ = 0;
    return;
  }
  if (frames == 0 && !pumped_) {
    silentSeconds_ += periodMs_ / 1000.0;
    if (silentSeconds_ >= kSilenceLimitSeconds) {
      vanish("no audio arrived");
      return;
    }
  } else {
    silentSeconds_ = 0;
  }
  const float* out = in;
  uint32_t outFrames = frames;
  // A null input tells soxr that the signal has ended, so an empty ring (whose tail may
  // be null) must not reach it.
  if (resampler_ != nullptr && frames == 0) {
    outFrames = 0;
  } else if (resampler_ != nullptr) {
    size_t done = 0;
    size_t produced = 0;
    soxr_process(resampler_, in, frames, &done, resampled_.data(),
                 resampled_.size() / static_cast<size_t>(channels_), &produced);
    out = resampled_.data();
    outFrames = static_cast<uint32_t>(produced);
  }
  emit(out, outFrames);
  ring_->consume(static_cast<int32_t>(frames) * frameBytes);
}

void CaptureChannel::emit(const float* frames, uint32_t count) {
  {
    std::lock_guard<std::mutex> lock(levelMutex_);
    const size_t total = static_cast<size_t>(count) * channels_;
    const size_t size = levelHistory_.size();
    const size_t skip = total > size ? total - size : 0;
    for (size_t i = skip; i < total; ++i) {
      levelHistory_[levelPos_] = frames[i];
      levelPos_ = levelPos_ + 1 == size ? 0 : levelPos_ + 1;
    }
    levelFilled_ = std::min(size, levelFilled_ + total - skip);
  }
  if (!callback_) return;
  uint32_t offset = 0;
  do {
    const uint32_t n = std::min(count - offset, kMaxCallbackFrames);
    const bool more = callback_(handle_, frames + static_cast<size_t>(offset) * channels_,
                                n * static_cast<uint32_t>(channels_) * 4);
    if (!more) {
      state_.store(State::Paused);
      driverPaused_.store(true);
      return;
    }
    offset += n;
  } while (offset < count);
}

bool CaptureChannel::level(float* levels, float seconds, uint32_t flags) const {
  std::lock_guard<std::mutex> lock(levelMutex_);
  if (state_.load() == State::Stopped) return false;
  const size_t size = levelHistory_.size();
  size_t want = static_cast<size_t>(std::max(0.0f, seconds) * rate_) * channels_;
  want = std::min({want, levelFilled_, size});
  want -= want % static_cast<size_t>(channels_);
  float left = 0.0f;
  float right = 0.0f;
  size_t pos = (levelPos_ + size - want) % size;
  for (size_t i = 0; i < want; ++i) {
    const float v = std::fabs(levelHistory_[pos]);
    const size_t ch = i % static_cast<size_t>(channels_);
    // Channels 1, 3, 5… (counted from 1) fold into the left level, 2, 4, 6… into the right.
    if (ch % 2 == 0) {
      left = std::max(left, v);
    } else {
      right = std::max(right, v);
    }
    pos = pos + 1 == size ? 0 : pos + 1;
  }
  if (channels_ == 1) right = left;
  if ((flags & kLevelStereo) != 0) {
    levels[0] = left;
    levels[1] = right;
  } else {
    levels[0] = std::max(left, right);
  }
  return true;
}

}  // namespace qv
