// The session's inputs: a capture device through the recorder and the session's input, or
// blocks fed by the caller through the two drift stages.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "audio/QVRecorder.h"
#include "delay/DelayLocator.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "session/AnalysisViews.h"
#include "session/DeviceSentences.h"
#include "session/DriftStage.h"
#include "session/InputTap.h"
#include "session/MeasurementSession.h"
#include "session/RecorderWatch.h"
#include "session/SessionInput.h"

namespace qv::session {

// ---- a capture device ----

bool MeasurementSession::openInput(const std::string& uid, uint32_t channelCountHint) {
  QV_ASSERT_TEXT(!config_.driven, "a driven session is fed by its caller");
  if (recorder_) return true;
  recorder_ = QVRecorder::initWithDeviceUUID(uid, channelCountHint, config_.sampleRate, false,
                                             recorderWatch_, library());
  if (!recorder_) return false;  // the recorder said why
  applyChannelMap();
  recorder_->addConsumer(input_);
  // A device of a lower rate is resampled to the session's: nothing lies above its half.
  const uint32_t deviceRate = library().deviceRate(uid);
  model_->setBandLimitHz(deviceRate != 0 && deviceRate < config_.sampleRate
                             ? static_cast<float>(deviceRate) / 2.0f
                             : INFINITY);
  recorder_->addConsumer(views_->levelTap());
  return true;
}

bool MeasurementSession::startCapture(const std::string& uid, uint32_t channelCountHint) {
  // A start of the device that went away which fails leaves it awaited: the lists may
  // still show it from before it went, and it must still come back by itself.
  std::optional<LostDevice> awaited;
  if (lostInput_) {
    if (uid == lostInput_->requested) awaited = lostInput_;
    lostInput_.reset();
  }
  const auto stillAwaited = [&] {
    if (!awaited) return;
    lostInput_ = awaited;
    updateWatch();
  };
  // The awaited device is named as it was when it went: the lists may have dropped it by
  // now, and its driver string is no name for a user.
  const auto nameOf = [&] { return awaited ? awaited->name : inputDeviceName(uid); };
  inputUid_ = uid;
  if (freshNeeded_) {
    // Marked before the capture runs: the first tick must already know.
    const double delayFrames =
        std::ceil(std::fabs(static_cast<double>(delayMs_)) * config_.sampleRate / 1000.0);
    freshFrom_.store(model_->tfDataSource()->framesReceived() + static_cast<int64_t>(delayFrames),
                     std::memory_order_release);
    freshNeeded_ = false;
  }
  if (!openInput(uid, channelCountHint)) {
    stillAwaited();
    notify(inputFailedNotice(nameOf(), kAudioErrorUnknown));
    return false;
  }
  // While the device that went away is wanted, no other device stands in for it: a UID the
  // lists no longer show opens the default device, whose curves would pass for its own.
  // Judged by the device the recorder took, not by an earlier look at the lists: they are
  // re-read on another thread and may drop the device between the two.
  if (awaited && !recordingFrom(awaited->driver)) {
    releaseInput();
    stillAwaited();
    notify(inputFailedNotice(awaited->name, kAudioErrorDevice));
    return false;
  }
  recorder_->resumeRec();
  updateWatch();
  if (recorder_->inputChannel() == 0 || !displayRunning_) {
    // The device that went away and does not start is still away, whatever the driver says.
    const int error = awaited ? kAudioErrorDevice : recorder_->lastError();
    const std::string name = nameOf();
    // A recorder that could not start is made afresh by the next start.
    releaseInput();
    stillAwaited();
    notify(inputFailedNotice(name, error));
    return false;
  }
  return true;
}

void MeasurementSession::stopCapture() {
  if (recorder_) recorder_->pauseRec();
  stopDisplay();
  stopDelayFinder();
  // Stopped on purpose: nothing comes back by itself.
  lostInput_.reset();
  updateWatch();
}

void MeasurementSession::releaseInput() {
  if (recorder_) {
    stopDelayFinder();
    const ChannelLosses l = recorder_->losses();
    lossesBefore_.droppedFrames += l.droppedFrames;
    lossesBefore_.xruns += l.xruns;
    recorder_->removeConsumer(input_);
    recorder_->removeConsumer(views_->levelTap());
  }
  recorder_.reset();
  // Another device has other clocks.
  input_->stage().schedule(0.0);
}

void MeasurementSession::setChannelMap(int32_t measurement, int32_t reference) {
  channelMap_[0] = measurement;
  channelMap_[1] = reference;
  applyChannelMap();
}

void MeasurementSession::applyChannelMap() {
  if (!recorder_) return;
  const std::vector<int32_t> map{channelMap_[0], channelMap_[1]};
  if (recorder_->channelMap() != map) recorder_->setChannelMap(map);
}

uint32_t MeasurementSession::inputChannel() const {
  return recorder_ ? recorder_->inputChannel() : 0;
}

// ---- blocks fed by the caller ----

void MeasurementSession::announce(uint32_t sampleRate) {
  QV_ASSERT_TEXT(config_.driven, "a device session hears the format from its recorder");
  model_->tfDataSource()->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  tap_->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  views_->levelTap()->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  if (!finder_) {
    finder_ = std::make_shared<DelayLocator>(/*ownTimer=*/false);
    finder_->setSettings(searchSettings_);
  }
  finder_->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  finder_->start(nullptr, DelayLocator::Delivery::TickThread);
  // The display starts its averages afresh when it starts.
  model_->resetAverages();
}

void MeasurementSession::deliverToDisplay(const float* frames, uint32_t count) {
  QV_ASSERT(count <= kMaxBlockFrames);  // the block contract the consumers rely on
  const float* out = nullptr;
  const uint32_t n = displayStage_->process(frames, count, &out);
  if (n == 0) return;
  model_->tfDataSource()->getData(out, n * kBytesPerFrame);
  tap_->getData(out, n * kBytesPerFrame);
  views_->levelTap()->getData(out, n * kBytesPerFrame);
}

void MeasurementSession::deliverToFinder(const float* frames, uint32_t count) {
  QV_ASSERT(count <= kMaxBlockFrames);
  QV_ASSERT_TEXT(finder_ != nullptr, "announce comes first");
  const float* out = nullptr;
  const uint32_t n = fedFinderStage_->process(frames, count, &out);
  if (n > 0) finder_->getData(out, n * kBytesPerFrame);
}

}  // namespace qv::session
