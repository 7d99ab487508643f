#include "audiolib/CaptureChannel.h"

#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "audiolib/AudioErrorText.h"
#include "platform/Log.h"
#include "platform/ThreadName.h"
#include "platform/Vector.h"

namespace qv {
namespace {
constexpr double kRingSeconds = 2.0;
constexpr double kLevelSeconds = 2.0;
// A running device that delivers nothing for this long, in wall time, has gone away (an
// unplugged ALSA device simply stops calling back).
constexpr std::chrono::duration<double> kSilenceLimit{2.0};
// No converter or mixer delivers a sample beyond +36 dBFS: what lies beyond (or is not a
// number) is garbage, such as the 1e29 a sound server's plug-in was seen to hand over in
// its first periods. Taken into the averages it would ruin every curve for minutes (a NaN:
// for good), so it is taken as silence.
constexpr float kLargestSample = 64.0f;
// The driver thread's stack buffer for levels of frames the ring had no room for.
constexpr uint32_t kChunkSamples = 1024;
// How often, at most, the log tells of more such samples.
constexpr std::chrono::seconds kNotAudioLogEvery{10};
// A wake-up of the delivery thread this late means it was not running (the process was
// stopped, the machine suspended or overloaded): the device gets the whole silence limit
// again from there.
constexpr std::chrono::duration<double> kStall{0.5};
}  // namespace

CaptureChannel::CaptureChannel(uint32_t handle, const AudioDeviceInfo& device,
                               AudioBackend& backend, uint32_t requestedRate, int channels,
                               uint32_t periodMs, CaptureCallback callback,
                               const PortNames& portNames)
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
  // Only a device running at another rate passes through the resampler and its buffer.
  if (resampler_ != nullptr) resampled_.resize((maxIn * rate_ / deviceRate_ + 4096) * channels_);
  peaks_ = std::make_unique<PeakHistory>(deviceRate_, channels_, kLevelSeconds);

  const uint32_t pumpFrames = static_cast<uint32_t>(std::lround(deviceRate_ * periodMs_ / 1000.0));
  int err = kAudioOk;
  backendStream_ = backend.openInput(device, channels_, deviceRate_, &CaptureChannel::driverInput,
                                     &CaptureChannel::pump, pumpFrames, this, portNames, &err);
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
  if (!pumped_) {
    delivery_ = std::thread([this] {
      nameThisThread("capture");
      deliveryLoop();
    });
  }
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
  // Announced before the pause flag is read: a restart that has raised the flag waits
  // until no callback that may have missed it is still writing.
  c->inDriver_.store(true);
  if (!c->driverPaused_.load()) {
    int32_t space = 0;
    void* head = c->ring_->head(&space);
    const auto channels = static_cast<size_t>(c->channels_);
    const int32_t frameBytes = c->channels_ * 4;
    const int32_t bytes =
        std::min(static_cast<int32_t>(count) * frameBytes, space / frameBytes * frameBytes);
    const auto kept = static_cast<uint32_t>(bytes / frameBytes);
    size_t notAudio = 0;
    if (kept > 0) {
      auto* out = static_cast<float*>(head);
      notAudio = vec::vkeepaudio(frames, out, kept * channels, kLargestSample);
      c->peaks_->write(out, kept);
      c->ring_->produce(bytes);
    }
    if (kept < count) {
      c->droppedFrames_.fetch_add(count - kept, std::memory_order_relaxed);
      // Frames the ring had no room for still show in the levels.
      float chunk[kChunkSamples];
      const uint32_t perChunk = std::max<uint32_t>(1, kChunkSamples / c->channels_);
      for (uint32_t f = kept; f < count;) {
        const uint32_t n = std::min(perChunk, count - f);
        if (n * channels > kChunkSamples) break;  // more channels than a chunk holds
        notAudio += vec::vkeepaudio(frames + f * channels, chunk, n * channels, kLargestSample);
        c->peaks_->write(chunk, n);
        f += n;
      }
    }
    if (notAudio != 0) c->notAudioSamples_.fetch_add(notAudio, std::memory_order_relaxed);
  }
  c->inDriver_.store(false);
}

void CaptureChannel::pump(void* self) { static_cast<CaptureChannel*>(self)->deliver(); }

bool CaptureChannel::play(bool restart, int* error) {
  if (vanished_.load() || state_.load() == State::Stopped || backendStream_ == nullptr) {
    *error = vanished_.load() ? kAudioErrorVanished : kAudioErrorHandle;
    return false;
  }
  if (restart) {
    std::unique_lock<std::mutex> lock(deliveryMutex_, std::defer_lock);
    if (!onDeliveryThread()) lock.lock();
    driverPaused_.store(true);
    while (inDriver_.load()) std::this_thread::yield();  // a callback never blocks
    // With no delivery running and the driver held off, this thread may act as the ring's
    // consumer: what was captured before now is dropped, with the resampler's history
    // (a fresh resampler; soxr_clear leaves this soxr version unable to process).
    int32_t buffered = 0;
    ring_->tail(&buffered);
    ring_->consume(buffered);
    peaks_->restart();
    if (resampler_ != nullptr && !makeResampler()) {
      vanish(CaptureEnd::Failed);
      *error = kAudioErrorVanished;
      return false;
    }
  }
  state_.store(State::Playing);
  driverPaused_.store(false);
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
  // A delivery that read the state before it changed may still be calling back.
  waitForDelivery();
  return true;
}

void CaptureChannel::stopDelivery() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  state_.store(State::Stopped);
  driverPaused_.store(true);
  if (delivery_.joinable()) {
    if (delivery_.get_id() == std::this_thread::get_id()) {
      delivery_.detach();
    } else {
      delivery_.join();
    }
  } else {
    waitForDelivery();  // a simulation's pump may be delivering on its own thread
  }
}

void CaptureChannel::waitForDelivery() {
  if (onDeliveryThread()) return;
  std::lock_guard<std::mutex> wait(deliveryMutex_);
}

void CaptureChannel::close() {
  if (backendStream_ != nullptr && !vanished_.load() && !backendStream_->isAlive()) {
    backendStream_->abandon();
  }
  backendStream_.reset();
}

void CaptureChannel::stop() {
  stopDelivery();
  close();
}

void CaptureChannel::setEndedHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(endedMutex_);
  ended_ = std::move(handler);
}

void CaptureChannel::deliveryLoop() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(periodMs_);
  auto next = Clock::now() + period;
  auto quietSince = Clock::now();  // since when the playing stream has delivered nothing
  std::unique_lock<std::mutex> lock(wakeMutex_);
  while (!stopping_) {
    if (wake_.wait_until(lock, next, [this] { return stopping_; })) break;
    lock.unlock();
    const auto now = Clock::now();
    const auto late = now - next;
    // A late wake-up skips the periods it missed: run back to back, they would only find
    // the ring empty.
    next = late >= period ? now + period : next + period;
    if (!backendStream_->isAlive()) {
      vanish(CaptureEnd::DeviceStopped);
    } else if (deliver() != Outcome::Empty || late >= kStall) {
      quietSince = now;
    } else if (now - quietSince >= kSilenceLimit) {
      vanish(CaptureEnd::NoAudio);
    }
    lock.lock();
    if (vanished_.load()) break;
  }
}

void CaptureChannel::vanish(CaptureEnd why) {
  if (vanished_.exchange(true)) return;
  endReason_.store(why);
  qv::log("Capture: device %s vanished (%s); capture stopped", driver_.c_str(),
          captureEndText(why).c_str());
  state_.store(State::Stopped);
  driverPaused_.store(true);
  xrunsAtEnd_.store(backendStream_->xruns());
  backendStream_->abandon();
  std::function<void()> ended;
  {
    std::lock_guard<std::mutex> lock(endedMutex_);
    ended = ended_;
  }
  if (ended) ended();
}

CaptureChannel::Outcome CaptureChannel::deliver() {
  std::lock_guard<std::mutex> lock(deliveryMutex_);
  delivering_.store(std::this_thread::get_id());
  const Outcome outcome = deliverLocked();
  delivering_.store(std::thread::id());
  return outcome;
}

void CaptureChannel::reportNotAudio() {
  const uint64_t total = notAudioSamples_.load(std::memory_order_relaxed);
  if (total == notAudioLogged_) return;
  const auto now = std::chrono::steady_clock::now();
  if (notAudioLogged_ != 0 && now - notAudioLoggedAt_ < kNotAudioLogEvery) return;
  qv::log(
      "Capture: device %s delivered %llu samples that are no audio (not a number, or "
      "beyond ±%.0f); they were taken as silence",
      driver_.c_str(), static_cast<unsigned long long>(total - notAudioLogged_),
      static_cast<double>(kLargestSample));
  notAudioLogged_ = total;
  notAudioLoggedAt_ = now;
}

CaptureChannel::Outcome CaptureChannel::deliverLocked() {
  if (vanished_.load()) return Outcome::NotPlaying;
  reportNotAudio();
  int32_t avail = 0;
  const auto* in = static_cast<const float*>(ring_->tail(&avail));
  const int32_t frameBytes = channels_ * 4;
  const auto frames = static_cast<uint32_t>(avail / frameBytes);
  if (state_.load() != State::Playing) {
    // Frames that arrived before a pause reached the driver.
    ring_->consume(static_cast<int32_t>(frames) * frameBytes);
    return Outcome::NotPlaying;
  }
  // An empty ring (whose tail may be null) must not reach soxr: a null input tells it
  // that the signal has ended.
  if (frames == 0) return Outcome::Empty;
  const float* out = in;
  uint32_t outFrames = frames;
  if (resampler_ != nullptr) {
    size_t done = 0;
    size_t produced = 0;
    soxr_process(resampler_, in, frames, &done, resampled_.data(),
                 resampled_.size() / static_cast<size_t>(channels_), &produced);
    out = resampled_.data();
    outFrames = static_cast<uint32_t>(produced);
  }
  if (outFrames > 0) deliverFrames(out, outFrames);
  ring_->consume(static_cast<int32_t>(frames) * frameBytes);
  return Outcome::Audio;
}

void CaptureChannel::deliverFrames(const float* frames, uint32_t count) {
  if (!callback_) return;
  for (uint32_t offset = 0; offset < count;) {
    const uint32_t n = std::min(count - offset, kMaxCallbackFrames);
    const bool more = callback_(handle_, frames + static_cast<size_t>(offset) * channels_,
                                n * static_cast<uint32_t>(channels_) * 4);
    if (!more) {
      state_.store(State::Paused);
      driverPaused_.store(true);
      return;
    }
    offset += n;
  }
}

ChannelLosses CaptureChannel::losses() const {
  ChannelLosses l;
  l.droppedFrames = droppedFrames_.load(std::memory_order_relaxed);
  if (vanished_.load()) {
    l.xruns = xrunsAtEnd_.load();
  } else if (backendStream_ != nullptr) {
    l.xruns = backendStream_->xruns();
  }
  return l;
}

bool CaptureChannel::level(float* levels, float seconds, uint32_t flags) const {
  if (state_.load() != State::Playing) return false;
  float left = 0.0f;
  float right = 0.0f;
  peaks_->read(seconds, &left, &right);
  if ((flags & kLevelStereo) != 0) {
    levels[0] = left;
    levels[1] = right;
  } else {
    levels[0] = std::max(left, right);
  }
  return true;
}

}  // namespace qv
