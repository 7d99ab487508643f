#include "audiolib/AudioLibrary.h"

#include <algorithm>
#include <cmath>

#include "audiolib/backends/portaudio/JackBackend.h"
#include "audiolib/backends/portaudio/PortAudioBackend.h"
#include "audiolib/backends/virtual/VirtualSoundSystem.h"
#include "platform/Log.h"

namespace qv {
namespace {

thread_local int tError = kAudioOk;

bool fail(int code) {
  tError = code;
  return false;
}
bool ok() {
  tError = kAudioOk;
  return true;
}

std::mutex gSharedMutex;
AudioLibrary::Options gSharedOptions;
bool gSharedCreated = false;

// Marks exactly one default per list: the backend's own default, else the first hardware
// device, else the virtual sound system.
void markDefault(std::vector<AudioDeviceInfo>& list, bool input, size_t first) {
  auto flag = [input](AudioDeviceInfo& d) -> bool& {
    return input ? d.isDefaultInput : d.isDefaultOutput;
  };
  size_t chosen = list.size();
  for (size_t i = first; i < list.size(); ++i) {
    if (!list[i].isVirtual && flag(list[i])) {
      chosen = i;
      break;
    }
  }
  for (size_t i = first; i < list.size() && chosen == list.size(); ++i) {
    if (!list[i].isVirtual) chosen = i;
  }
  for (size_t i = first; i < list.size() && chosen == list.size(); ++i) {
    if (list[i].isVirtual) chosen = i;
  }
  for (size_t i = 0; i < list.size(); ++i) flag(list[i]) = i == chosen;
}

bool sameDevices(const std::vector<AudioDeviceInfo>& a, const std::vector<AudioDeviceInfo>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].driver != b[i].driver || a[i].inputChannels != b[i].inputChannels ||
        a[i].outputChannels != b[i].outputChannels || a[i].isDefaultInput != b[i].isDefaultInput ||
        a[i].isDefaultOutput != b[i].isDefaultOutput) {
      return false;
    }
  }
  return true;
}

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
    rescanThread_ = std::thread([this, s = options.rescanSeconds] { rescanLoop(s); });
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

int AudioLibrary::errorCode() { return tError; }

VirtualSoundSystem& AudioLibrary::virtualSoundSystem() { return *virtual_; }

AudioBackend& AudioLibrary::backendFor(const AudioDeviceInfo& info) {
  if (info.isVirtual || portAudio_ == nullptr) return *virtual_;
  if (info.hostApi == JackBackend::kHostApi) return *jack_;
  return *portAudio_;
}

void AudioLibrary::rebuildLocked() {
  std::vector<AudioDeviceInfo> all;
  if (portAudio_ != nullptr) {
    portAudio_->appendDevices(all);
    jack_->appendDevices(all);
  }
  if (options_.virtualSoundSystem) virtual_->appendDevices(all);
  recording_.clear();
  playback_.clear();
  AudioDeviceInfo none;
  none.name = "No sound";
  playback_.push_back(none);
  for (const auto& d : all) {
    if (d.inputChannels > 0) recording_.push_back(d);
    if (d.outputChannels > 0) playback_.push_back(d);
  }
  markDefault(recording_, true, 0);
  markDefault(playback_, false, 1);
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
    auto oldRecording = recording_;
    auto oldPlayback = playback_;
    jack_->refresh();
    if (portAudio_->reinitialize()) {
      signature_ = sig;
    } else if (portAudio_->poisoned()) {
      qv::log("Audio: device lists can no longer be refreshed from PortAudio");
      signature_ = sig;
    }
    // With a stream open the lists are rebuilt from what PortAudio still knows, and the
    // full refresh is retried once the streams are closed.
    rebuildLocked();
    changed = !sameDevices(oldRecording, recording_) || !sameDevices(oldPlayback, playback_);
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
  return recording_;
}

std::vector<AudioDeviceInfo> AudioLibrary::playbackDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playback_;
}

bool AudioLibrary::resolveRecording(uint32_t index, AudioDeviceInfo* info) const {
  if (index == kDefaultDevice) {
    for (const auto& d : recording_) {
      if (d.isDefaultInput) {
        *info = d;
        return true;
      }
    }
    return false;
  }
  if (index >= recording_.size()) return false;
  *info = recording_[index];
  return true;
}

bool AudioLibrary::resolvePlayback(uint32_t index, AudioDeviceInfo* info) const {
  if (index == kDefaultDevice) {
    for (const auto& d : playback_) {
      if (d.isDefaultOutput) {
        *info = d;
        return true;
      }
    }
    return false;
  }
  if (index >= playback_.size()) return false;
  *info = playback_[index];
  return true;
}

bool AudioLibrary::recordGetDeviceInfo(uint32_t index, AudioDeviceInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index != kDefaultDevice && resolveRecording(index, info) ? ok() : fail(kAudioErrorDevice);
}

bool AudioLibrary::getDeviceInfo(uint32_t index, AudioDeviceInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index != kDefaultDevice && resolvePlayback(index, info) ? ok() : fail(kAudioErrorDevice);
}

bool AudioLibrary::recordInit(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  AudioDeviceInfo info;
  if (!resolveRecording(device, &info)) return fail(kAudioErrorDevice);
  recordCurrent_ = info.driver;
  if (!recordOpen_.insert(info.driver).second) return fail(kAudioErrorAlready);
  return ok();
}

bool AudioLibrary::recordSetDevice(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  AudioDeviceInfo info;
  if (!resolveRecording(device, &info)) return fail(kAudioErrorDevice);
  if (recordOpen_.count(info.driver) == 0) return fail(kAudioErrorInit);
  recordCurrent_ = info.driver;
  return ok();
}

uint32_t AudioLibrary::recordGetDevice() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < recording_.size(); ++i) {
    if (recording_[i].driver == recordCurrent_) {
      ok();
      return static_cast<uint32_t>(i);
    }
  }
  fail(kAudioErrorInit);
  return kDefaultDevice;
}

bool AudioLibrary::recordGetInfo(RecordInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordOpen_.count(recordCurrent_) == 0) return fail(kAudioErrorInit);
  for (const auto& d : recording_) {
    if (d.driver == recordCurrent_) {
      info->freq = static_cast<uint32_t>(std::lround(d.defaultRate));
      info->formats = static_cast<uint32_t>(std::min(d.inputChannels, 255)) << 24;
      return ok();
    }
  }
  return fail(kAudioErrorDevice);
}

bool AudioLibrary::recordFree() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordOpen_.erase(recordCurrent_) == 0) return fail(kAudioErrorInit);
  return ok();
}

uint32_t AudioLibrary::recordStart(uint32_t rate, uint32_t channels, bool paused, uint32_t periodMs,
                                   CaptureCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordOpen_.count(recordCurrent_) == 0) return fail(kAudioErrorInit), 0;
  auto it = std::find_if(recording_.begin(), recording_.end(),
                         [this](const AudioDeviceInfo& d) { return d.driver == recordCurrent_; });
  if (it == recording_.end()) return fail(kAudioErrorDevice), 0;
  if (rate == 0) rate = static_cast<uint32_t>(std::lround(it->defaultRate));
  const uint32_t handle = nextHandle_++;
  auto channel =
      std::make_shared<CaptureChannel>(handle, *it, backendFor(*it), rate,
                                       static_cast<int>(channels), periodMs, std::move(callback));
  if (!channel->valid()) return fail(channel->error()), 0;
  captures_[handle] = channel;
  int err = kAudioOk;
  if (!paused && !channel->play(true, &err)) return fail(err), 0;
  ok();
  return handle;
}

bool AudioLibrary::init(uint32_t device, uint32_t rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  AudioDeviceInfo info;
  if (!resolvePlayback(device, &info)) return fail(kAudioErrorDevice);
  outputCurrent_ = info.driver;
  outputCurrentSet_ = true;
  if (outputOpen_.count(info.driver) != 0) return fail(kAudioErrorAlready);
  OutputDevice out;
  out.rate = rate;
  if (!info.driver.empty()) {
    const int chans = std::min(info.outputChannels, 2);
    if (rate == 0 || !backendFor(info).supportsRate(info, false, chans, rate)) {
      out.rate = static_cast<uint32_t>(std::lround(info.defaultRate));
    }
  }
  outputOpen_[info.driver] = out;
  return ok();
}

bool AudioLibrary::setDevice(uint32_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  AudioDeviceInfo info;
  if (!resolvePlayback(device, &info)) return fail(kAudioErrorDevice);
  if (outputOpen_.count(info.driver) == 0) return fail(kAudioErrorInit);
  outputCurrent_ = info.driver;
  outputCurrentSet_ = true;
  return ok();
}

uint32_t AudioLibrary::getDevice() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; outputCurrentSet_ && i < playback_.size(); ++i) {
    if (playback_[i].driver == outputCurrent_) return ok(), static_cast<uint32_t>(i);
  }
  fail(kAudioErrorInit);
  return kDefaultDevice;
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
  info->channels = 1;
  for (const auto& d : playback_) {
    if (d.driver == outputCurrent_) info->channels = static_cast<uint32_t>(d.outputChannels);
  }
  return ok();
}

bool AudioLibrary::free() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!outputCurrentSet_ || outputOpen_.erase(outputCurrent_) == 0) return fail(kAudioErrorInit);
  return ok();
}

uint32_t AudioLibrary::streamCreate(uint32_t rate, StreamFill fill) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto open = outputOpen_.find(outputCurrent_);
  if (!outputCurrentSet_ || open == outputOpen_.end()) return fail(kAudioErrorInit), 0;
  auto it = std::find_if(playback_.begin() + 1, playback_.end(),
                         [this](const AudioDeviceInfo& d) { return d.driver == outputCurrent_; });
  if (it == playback_.end()) return fail(kAudioErrorDevice), 0;
  // The device plays at its current rate; a stream at another rate would play off pitch.
  if (rate != open->second.rate) return fail(kAudioErrorFormat), 0;
  const uint32_t handle = nextHandle_++;
  auto stream = std::make_shared<OutputStream>(handle, *it, backendFor(*it), rate, std::move(fill));
  if (!stream->valid()) return fail(stream->error()), 0;
  streams_[handle] = stream;
  ok();
  return handle;
}

std::shared_ptr<CaptureChannel> AudioLibrary::capture(uint32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = captures_.find(handle);
  return it == captures_.end() ? nullptr : it->second;
}

std::shared_ptr<OutputStream> AudioLibrary::stream(uint32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second;
}

bool AudioLibrary::channelPlay(uint32_t handle, bool restart) {
  int err = kAudioOk;
  if (auto c = capture(handle)) return c->play(restart, &err) ? ok() : fail(err);
  if (auto s = stream(handle)) return s->play(&err) ? ok() : fail(err);
  return fail(kAudioErrorHandle);
}

bool AudioLibrary::channelPause(uint32_t handle) {
  int err = kAudioOk;
  if (auto c = capture(handle)) return c->pause(&err) ? ok() : fail(err);
  if (auto s = stream(handle)) return s->pause(&err) ? ok() : fail(err);
  return fail(kAudioErrorHandle);
}

bool AudioLibrary::channelStop(uint32_t handle) { return channelFree(handle); }

bool AudioLibrary::channelFree(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Stopped under the lock: PortAudio must not open or re-initialise meanwhile. The
  // delivery thread being joined never takes this lock.
  if (auto it = captures_.find(handle); it != captures_.end()) {
    it->second->stop();
    captures_.erase(it);
    return ok();
  }
  if (auto it = streams_.find(handle); it != streams_.end()) {
    it->second->stop();
    streams_.erase(it);
    return ok();
  }
  return fail(kAudioErrorHandle);
}

bool AudioLibrary::channelGetInfo(uint32_t handle, ChannelInfo* info) const {
  if (auto c = capture(handle)) {
    info->freq = c->rate();
    info->chans = c->channels();
    return ok();
  }
  if (auto s = stream(handle)) {
    info->freq = s->rate();
    info->chans = 1;
    return ok();
  }
  return fail(kAudioErrorHandle);
}

bool AudioLibrary::channelIsActive(uint32_t handle) const {
  if (auto c = capture(handle)) return ok(), c->state() == CaptureChannel::State::Playing;
  if (auto s = stream(handle)) return ok(), s->isActive();
  return fail(kAudioErrorHandle);
}

bool AudioLibrary::channelSetVolume(uint32_t handle, float volume) {
  auto s = stream(handle);
  if (!s) return fail(kAudioErrorHandle);
  s->setVolume(volume);
  return ok();
}

bool AudioLibrary::channelSlideVolume(uint32_t handle, float volume, uint32_t milliseconds) {
  auto s = stream(handle);
  if (!s) return fail(kAudioErrorHandle);
  s->slideVolume(volume, milliseconds);
  return ok();
}

bool AudioLibrary::channelGetLevel(uint32_t handle, float* levels, float seconds,
                                   uint32_t flags) const {
  auto c = capture(handle);
  if (!c) return fail(kAudioErrorHandle);
  return c->level(levels, seconds, flags) ? ok() : fail(kAudioErrorVanished);
}

bool AudioLibrary::channelSetEndedHandler(uint32_t handle, std::function<void()> handler) {
  auto c = capture(handle);
  if (!c) return fail(kAudioErrorHandle);
  c->setEndedHandler(std::move(handler));
  return ok();
}

}  // namespace qv
