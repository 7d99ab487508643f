// The session's devices going away and coming back: a capture that ended by itself, the
// noise whose output went away, the watch that brings them back, and what the input lost.
#include <algorithm>

#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "delay/DelayLocator.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "session/DeviceSentences.h"
#include "session/MeasurementSession.h"

namespace qv::session {
namespace {

// How often the watch looks while a device matters: a returning JACK server is seen
// within this (or at once, when the device lists report it).
constexpr double kWatchInterval = 0.5;
constexpr uint64_t kWatchLeewayNs = 50'000'000;
// Right after a loss the device lists may not have been read again and still show the
// device: it counts as back once the lists have shown it gone, or after this long (a server
// restarted between two reads of the lists is never seen gone).
constexpr double kStaleListSeconds = 3.0;

}  // namespace

void MeasurementSession::setDeviceListener(std::function<void(const DeviceNotice&)> listener) {
  deviceListener_ = std::move(listener);
}

void MeasurementSession::notify(const DeviceNotice& notice) {
  log("%s", notice.sentence.c_str());
  if (deviceListener_) deviceListener_(notice);
}

void MeasurementSession::inputWentAway(CaptureEnd why) {
  if (!recorder_) return;
  LostDevice lost;
  lost.requested = inputUid_;
  AudioDeviceInfo info;
  if (library().recordGetDeviceInfo(recorder_->deviceHandle(), &info)) {
    lost.driver = info.driver;
    lost.name = info.name;
  } else {
    lost.driver = inputUid_;
  }
  lost.finderRan = finder_ && finder_->isRunning();
  lost.lostAt = clock_->now();
  stopDisplay();
  stopDelayFinder();
  // The recorder is in its own report now, holding itself: dropping it here is safe, and
  // the next start opens the device afresh (its channels and rate may have changed).
  releaseInput();
  lostInput_ = lost;
  freshNeeded_ = true;
  notify(inputLostNotice(lost.name, why, resumeWhenBack_));
  // The noise may have gone with it (one server for both).
  checkDevices();
}

void MeasurementSession::outputWentAway() {
  LostDevice lost;
  lost.requested = generatorUid_;
  AudioDeviceInfo info;
  if (library().getDeviceInfo(generator_->playingDevice(), &info)) {
    lost.driver = info.driver;
    lost.name = info.name;
  } else {
    lost.driver = generatorUid_;
  }
  lost.lostAt = clock_->now();
  // Closing the stream lets its device go: a JACK client stays (and keeps the server from
  // being found again) until its last stream is closed.
  generator_->stop();
  lostOutput_ = lost;
  notify(outputLostNotice(lost.name, resumeWhenBack_));
}

bool MeasurementSession::devicePresent(bool recording, const std::string& driver) const {
  const auto devices = recording ? library().recordingDevices() : library().playbackDevices();
  return std::any_of(devices.begin(), devices.end(),
                     [&](const AudioDeviceInfo& d) { return d.driver == driver && d.enabled; });
}

bool MeasurementSession::recordingFrom(const std::string& driver) const {
  AudioDeviceInfo info;
  return recorder_ && library().recordGetDeviceInfo(recorder_->deviceHandle(), &info) &&
         info.enabled && info.driver == driver;
}

bool MeasurementSession::deviceReturned(LostDevice& lost, bool recording) const {
  if (!devicePresent(recording, lost.driver)) {
    lost.seenAway = true;
    return false;
  }
  return lost.seenAway || clock_->now() - lost.lostAt > kStaleListSeconds;
}

void MeasurementSession::checkDevices() {
  if (config_.driven) return;
  if (generatorWanted_ && generator_ && !lostOutput_ && !generator_->isOn()) outputWentAway();
  if (lostInput_ && deviceReturned(*lostInput_, true)) resumeInput();
  if (lostOutput_ && deviceReturned(*lostOutput_, false)) resumeOutput();
  const ChannelLosses l = losses();
  droppedFrames_.store(l.droppedFrames, std::memory_order_relaxed);
  xruns_.store(l.xruns, std::memory_order_relaxed);
  updateWatch();
}

void MeasurementSession::resumeInput() {
  const LostDevice lost = *lostInput_;
  if (!resumeWhenBack_) {
    // Space starts it: nothing stands in the way any more.
    lostInput_.reset();
    notify(inputBackNotice(lost.name, false));
    return;
  }
  // The start itself says why when it fails; the device stays awaited (a list read just
  // before the server went away again, or one that came back half-ready), tried again
  // once the lists have seen it gone or after a while.
  if (!startCapture(lost.requested)) {
    lostInput_ = lost;
    lostInput_->seenAway = false;
    lostInput_->lostAt = clock_->now();
    updateWatch();
    return;
  }
  if (lost.finderRan) startDelayFinder();
  notify(inputBackNotice(lost.name, true));
}

void MeasurementSession::resumeOutput() {
  const LostDevice lost = *lostOutput_;
  lostOutput_.reset();
  if (!resumeWhenBack_) {
    generatorWanted_ = false;
    notify(outputBackNotice(lost.name, false));
    return;
  }
  if (setGeneratorOn(true, lost.requested.empty() ? lost.driver : lost.requested)) {
    notify(outputBackNotice(lost.name, true));
    return;
  }
  // As for the capture: still awaited, tried again later.
  lostOutput_ = lost;
  lostOutput_->seenAway = false;
  lostOutput_->lostAt = clock_->now();
  updateWatch();
}

void MeasurementSession::updateWatch() {
  if (config_.driven) return;
  const bool capturing = recorder_ && recorder_->inputChannel() != 0;
  const bool needed = capturing || generatorWanted_ || lostInput_ || lostOutput_;
  if (!needed) {
    if (watchTimer_) watchTimer_->invalidate();
    watchTimer_.reset();
    return;
  }
  if (devicesListener_ == 0) {
    // The lists change on the library's rescan thread; the look happens on the main queue.
    std::weak_ptr<bool> alive = alive_;
    devicesListener_ = library().addDevicesChangedListener([alive, this] {
      dispatch::mainQueue().async([alive, this] {
        if (const auto a = alive.lock(); a && *a) checkDevices();
      });
    });
  }
  if (watchTimer_) return;
  watchTimer_ = GCDTimer::timerOnMainQueue(kWatchLeewayNs, "session.device.watch");
  watchTimer_->scheduleBlock([this] { checkDevices(); }, kWatchInterval, true);
}

ChannelLosses MeasurementSession::losses() const {
  ChannelLosses l = lossesBefore_;
  if (recorder_) {
    const ChannelLosses r = recorder_->losses();
    l.droppedFrames += r.droppedFrames;
    l.xruns += r.xruns;
  }
  l.droppedFrames += static_cast<uint64_t>(model_->tfDataSource()->framesDropped());
  return l;
}

std::string MeasurementSession::inputDeviceName(const std::string& uid) const {
  for (const auto& d : library().recordingDevices())
    if (d.driver == uid) return d.name;
  return uid;
}

std::string MeasurementSession::outputDeviceName(const std::string& uid) const {
  for (const auto& d : library().playbackDevices())
    if (d.driver == uid) return d.name;
  return uid;
}

}  // namespace qv::session
