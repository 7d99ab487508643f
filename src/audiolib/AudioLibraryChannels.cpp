// The operations on an open capture channel or output stream, by handle.
#include "audiolib/AudioLibrary.h"
#include "audiolib/AudioLibraryResult.h"

namespace qv {

using audiolib_result::fail;
using audiolib_result::ok;

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
  std::shared_ptr<CaptureChannel> capture;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = captures_.find(handle); it != captures_.end()) {
      capture = std::move(it->second);
      captures_.erase(it);
    } else if (auto st = streams_.find(handle); st != streams_.end()) {
      // Closed under the lock: PortAudio must not open or re-initialise meanwhile.
      st->second->stop();
      streams_.erase(st);
      return ok();
    } else {
      return fail(kAudioErrorHandle);
    }
  }
  // The delivery thread may be inside a callback that calls the library, so it is joined
  // without the lock; the stream is then closed under it, like any other.
  capture->stopDelivery();
  std::lock_guard<std::mutex> lock(mutex_);
  capture->close();
  return ok();
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
  return c->level(levels, seconds, flags) ? ok() : fail(kAudioErrorNotPlaying);
}

bool AudioLibrary::channelSetEndedHandler(uint32_t handle, std::function<void()> handler) {
  auto c = capture(handle);
  if (!c) return fail(kAudioErrorHandle);
  c->setEndedHandler(std::move(handler));
  return ok();
}

CaptureEnd AudioLibrary::channelEndReason(uint32_t handle) const {
  auto c = capture(handle);
  if (!c) return fail(kAudioErrorHandle), CaptureEnd::None;
  ok();
  return c->endReason();
}

bool AudioLibrary::channelGetLosses(uint32_t handle, ChannelLosses* losses) const {
  // Under the lock, like closing: the device stream is asked for its dropouts.
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = captures_.find(handle);
  if (it == captures_.end()) return fail(kAudioErrorHandle);
  *losses = it->second->losses();
  return ok();
}

bool AudioLibrary::channelSetPortNames(uint32_t handle, const PortNames& names) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto c = captures_.find(handle); c != captures_.end())
    return c->second->setPortNames(names), ok();
  if (auto s = streams_.find(handle); s != streams_.end())
    return s->second->setPortNames(names), ok();
  return fail(kAudioErrorHandle);
}

}  // namespace qv
