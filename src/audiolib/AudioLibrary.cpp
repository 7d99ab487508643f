#include "audiolib/AudioLibrary.h"

#include <algorithm>
#include <cmath>

#include "audiolib/AudioLibraryResult.h"
#include "audiolib/backends/portaudio/JackBackend.h"
#include "audiolib/backends/portaudio/PortAudioBackend.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "platform/Log.h"
#include "platform/ThreadName.h"

namespace qv {
namespace audiolib_result {

namespace {
thread_local int tError = kAudioOk;
}  // namespace

bool fail(int code) {
  tError = code;
  return false;
}
bool ok() {
  tError = kAudioOk;
  return true;
}
int last() { return tError; }

}  // namespace audiolib_result

namespace {

using audiolib_result::fail;
using audiolib_result::ok;

std::mutex gSharedMutex;
AudioLibrary::Options gSharedOptions;
bool gSharedCreated = false;

}  // namespace

AudioLibrary& AudioLibrary::shared() {
  static AudioLibrary* library = [] {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gSharedCreated = true;
    // Never destroyed: capture threads and driver callbacks may outlive static teardown.
    return new AudioLibrary(gSharedOptions);
  }();
  return *library;
}

bool AudioLibrary::configure(const Options& options) {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (gSharedCreated) return false;
  gSharedOptions = options;
  return true;
}

AudioLibrary::AudioLibrary(const Options& options)
    : options_(options), virtual_(std::make_unique<VirtualSoundSystem>()) {
  virtual_->setSimulatedTime(options.simulatedTime);
  if (options.portAudio) {
    signature_ = PortAudioBackend::deviceSignature();
    portAudio_ = std::make_unique<PortAudioBackend>();
    jack_ = std::make_unique<JackBackend>(options.clientName);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rebuildLocked();
  }
  if (options.rescanSeconds > 0) {
    rescanThread_ = std::thread([this, s = options.rescanSeconds] {
      nameThisThread("device-rescan");
      rescanLoop(s);
    });
  }
}

AudioLibrary::~AudioLibrary() {
  {
    std::lock_guard<std::mutex> lock(rescanMutex_);
    rescanStop_ = true;
  }
  rescanWake_.notify_all();
  if (rescanThread_.joinable()) rescanThread_.join();
  std::map<uint32_t, std::shared_ptr<CaptureChannel>> captures;
  std::map<uint32_t, std::shared_ptr<OutputStream>> streams;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    captures.swap(captures_);
    streams.swap(streams_);
  }
  for (auto& [h, c] : captures) c->stop();
  for (auto& [h, s] : streams) s->stop();
}

void AudioLibrary::setConfig(uint32_t option, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_[option] = value;
}

uint32_t AudioLibrary::config(uint32_t option) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = config_.find(option);
  return it == config_.end() ? 0 : it->second;
}

int AudioLibrary::errorCode() { return audiolib_result::last(); }

VirtualSoundSystem& AudioLibrary::virtualSoundSystem() { return *virtual_; }

AudioBackend& AudioLibrary::backendFor(const AudioDeviceInfo& info) {
  if (info.isVirtual || portAudio_ == nullptr) return *virtual_;
  if (info.hostApi == JackBackend::kHostApi) return *jack_;
  return *portAudio_;
}

bool AudioLibrary::rebuildLocked() {
  std::vector<AudioDeviceInfo> all;
  if (portAudio_ != nullptr) {
    portAudio_->appendDevices(all);
    jack_->appendDevices(all);
  }
  if (options_.virtualSoundSystem) virtual_->appendDevices(all);
  return devices_.update(all);
}

bool AudioLibrary::rescan() {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (portAudio_ == nullptr) return false;
    const std::string sig = PortAudioBackend::deviceSignature();
    // A server that was still starting may have refused our client; ask again.
    const bool jackPending = !jack_->alive() && PortAudioBackend::jackServerRunning();
    if (sig == signature_ && !jackPending) return false;
    jack_->refresh();
    if (jack_->holdsDeadClient()) {
      // PortAudio waits until our JACK client can be closed; the next scan tries again.
    } else if (portAudio_->reinitialize()) {
      signature_ = sig;
    } else if (portAudio_->poisoned()) {
      qv::log("Audio: device lists can no longer be refreshed from PortAudio");
      signature_ = sig;
    }
    // With a stream open the lists are rebuilt from what PortAudio still knows, and the
    // full refresh is retried once the streams are closed.
    changed = rebuildLocked();
  }
  if (changed) notifyListeners();
  return changed;
}

void AudioLibrary::rescanLoop(double seconds) {
  std::unique_lock<std::mutex> lock(rescanMutex_);
  while (!rescanStop_) {
    rescanWake_.wait_for(lock, std::chrono::duration<double>(seconds),
                         [this] { return rescanStop_; });
    if (rescanStop_) break;
    lock.unlock();
    rescan();
    lock.lock();
  }
}

int AudioLibrary::addDevicesChangedListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listeners_[nextListener_] = std::move(listener);
  return nextListener_++;
}

void AudioLibrary::removeDevicesChangedListener(int id) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listeners_.erase(id);
}

void AudioLibrary::notifyListeners() {
  // Called without the lock: a listener may remove itself (its owner can die in it).
  std::vector<std::function<void()>> listeners;
  {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    for (auto& [id, fn] : listeners_) listeners.push_back(fn);
  }
  for (auto& fn : listeners) fn();
}

std::vector<AudioDeviceInfo> AudioLibrary::recordingDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.presentRecording();
}

std::vector<AudioDeviceInfo> AudioLibrary::playbackDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.presentPlayback();
}

bool AudioLibrary::recordGetDeviceInfo(uint32_t index, AudioDeviceInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = index == kDefaultDevice ? nullptr : devices_.recording(index);
  if (d == nullptr) return fail(kAudioErrorDevice);
  *info = *d;
  return ok();
}

bool AudioLibrary::getDeviceInfo(uint32_t index, AudioDeviceInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = index == kDefaultDevice ? nullptr : devices_.playback(index);
  if (d == nullptr) return fail(kAudioErrorDevice);
  *info = *d;
  return ok();
}

bool AudioLibrary::recordInit(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = devices_.recording(device);
  if (d == nullptr || !d->enabled) return fail(kAudioErrorDevice);
  recordCurrent_ = d->driver;
  if (!recordOpen_.insert(d->driver).second) return fail(kAudioErrorAlready);
  return ok();
}

// A device that went away can still be selected (and freed) while it is open.
bool AudioLibrary::recordSetDevice(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = devices_.recording(device);
  if (d == nullptr) return fail(kAudioErrorDevice);
  if (recordOpen_.count(d->driver) == 0) return fail(kAudioErrorInit);
  recordCurrent_ = d->driver;
  return ok();
}

uint32_t AudioLibrary::recordGetDevice() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto number = devices_.recordingNumber(recordCurrent_);
  if (!number) return fail(kAudioErrorInit), kDefaultDevice;
  ok();
  return *number;
}

const AudioDeviceInfo* AudioLibrary::currentRecordingLocked() const {
  const auto number = devices_.recordingNumber(recordCurrent_);
  const AudioDeviceInfo* d = number ? devices_.recording(*number) : nullptr;
  return d != nullptr && d->enabled ? d : nullptr;
}

const AudioDeviceInfo* AudioLibrary::currentPlaybackLocked() const {
  const auto number = outputCurrentSet_ ? devices_.playbackNumber(outputCurrent_) : std::nullopt;
  const AudioDeviceInfo* d = number ? devices_.playback(*number) : nullptr;
  return d != nullptr && d->enabled ? d : nullptr;
}

bool AudioLibrary::recordGetInfo(RecordInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordOpen_.count(recordCurrent_) == 0) return fail(kAudioErrorInit);
  const AudioDeviceInfo* d = currentRecordingLocked();
  if (d == nullptr) return fail(kAudioErrorDevice);
  info->freq = static_cast<uint32_t>(std::lround(d->defaultRate));
  info->formats = static_cast<uint32_t>(std::min(d->inputChannels, 255)) << 24;
  return ok();
}

bool AudioLibrary::recordFree() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordOpen_.erase(recordCurrent_) == 0) return fail(kAudioErrorInit);
  return ok();
}

uint32_t AudioLibrary::recordStart(uint32_t rate, uint32_t channels, bool paused, uint32_t periodMs,
                                   CaptureCallback callback, const PortNames& portNames) {
  std::shared_ptr<CaptureChannel> channel;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (recordOpen_.count(recordCurrent_) == 0) return fail(kAudioErrorInit), 0;
    const AudioDeviceInfo* d = currentRecordingLocked();
    if (d == nullptr) return fail(kAudioErrorDevice), 0;
    if (rate == 0) rate = static_cast<uint32_t>(std::lround(d->defaultRate));
    channel = std::make_shared<CaptureChannel>(nextHandle_++, *d, backendFor(*d), rate,
                                               static_cast<int>(channels), periodMs,
                                               std::move(callback), portNames);
    if (!channel->valid()) return fail(channel->error()), 0;
    captures_[channel->handle()] = channel;
  }
  // Played without the lock, like any channel: a restart waits for a delivery, whose
  // callback may call the library.
  int err = kAudioOk;
  if (!paused && !channel->play(true, &err)) return fail(err), 0;
  ok();
  return channel->handle();
}

bool AudioLibrary::init(uint32_t device, uint32_t rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = devices_.playback(device);
  if (d == nullptr || !d->enabled) return fail(kAudioErrorDevice);
  outputCurrent_ = d->driver;
  outputCurrentSet_ = true;
  if (outputOpen_.count(d->driver) != 0) return fail(kAudioErrorAlready);
  OutputDevice out;
  out.rate = rate;
  if (!d->driver.empty()) {
    const int chans = std::min(d->outputChannels, 2);
    if (rate == 0 || !backendFor(*d).supportsRate(*d, false, chans, rate)) {
      out.rate = static_cast<uint32_t>(std::lround(d->defaultRate));
    }
  }
  outputOpen_[d->driver] = out;
  return ok();
}

// Like recordSetDevice, a device that went away can still be selected while it is open.
bool AudioLibrary::setDevice(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const AudioDeviceInfo* d = devices_.playback(device);
  if (d == nullptr) return fail(kAudioErrorDevice);
  if (outputOpen_.count(d->driver) == 0) return fail(kAudioErrorInit);
  outputCurrent_ = d->driver;
  outputCurrentSet_ = true;
  return ok();
}

uint32_t AudioLibrary::getDevice() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto number = outputCurrentSet_ ? devices_.playbackNumber(outputCurrent_) : std::nullopt;
  if (!number) return fail(kAudioErrorInit), kDefaultDevice;
  ok();
  return *number;
}

bool AudioLibrary::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = outputOpen_.find(outputCurrent_);
  if (!outputCurrentSet_ || it == outputOpen_.end()) return fail(kAudioErrorInit);
  it->second.running = true;
  return ok();
}

bool AudioLibrary::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = outputOpen_.find(outputCurrent_);
  if (!outputCurrentSet_ || it == outputOpen_.end()) return fail(kAudioErrorInit);
  it->second.running = false;
  int err = kAudioOk;
  for (auto& [h, s] : streams_) {
    if (s->deviceDriver() == outputCurrent_) s->pause(&err);
  }
  return ok();
}

bool AudioLibrary::getInfo(OutputInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = outputOpen_.find(outputCurrent_);
  if (!outputCurrentSet_ || it == outputOpen_.end()) return fail(kAudioErrorInit);
  info->freq = it->second.rate;
  const AudioDeviceInfo* d = currentPlaybackLocked();
  info->channels =
      d != nullptr && d->outputChannels > 0 ? static_cast<uint32_t>(d->outputChannels) : 1;
  return ok();
}

bool AudioLibrary::free() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!outputCurrentSet_ || outputOpen_.erase(outputCurrent_) == 0) return fail(kAudioErrorInit);
  return ok();
}

uint32_t AudioLibrary::streamCreate(uint32_t rate, StreamFill fill, const std::string& portName) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto open = outputOpen_.find(outputCurrent_);
  if (!outputCurrentSet_ || open == outputOpen_.end()) return fail(kAudioErrorInit), 0;
  const AudioDeviceInfo* d = currentPlaybackLocked();
  if (d == nullptr || d->driver.empty()) return fail(kAudioErrorDevice), 0;
  // The device plays at its current rate; a stream at another rate would play off pitch.
  if (rate != open->second.rate) return fail(kAudioErrorFormat), 0;
  const uint32_t handle = nextHandle_++;
  auto stream = std::make_shared<OutputStream>(handle, *d, backendFor(*d), rate, std::move(fill),
                                               PortNames{portName});
  if (!stream->valid()) return fail(stream->error()), 0;
  streams_[handle] = stream;
  ok();
  return handle;
}

uint32_t AudioLibrary::deviceRate(const std::string& driver) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, c] : captures_)
    if (c->deviceDriver() == driver) return c->deviceRate();
  if (auto open = outputOpen_.find(driver); open != outputOpen_.end()) return open->second.rate;
  const AudioDeviceInfo* d = nullptr;
  if (auto n = devices_.recordingNumber(driver)) d = devices_.recording(*n);
  if (auto n = devices_.playbackNumber(driver); !d && n) d = devices_.playback(*n);
  return d && d->enabled ? static_cast<uint32_t>(std::lround(d->defaultRate)) : 0;
}

}  // namespace qv
