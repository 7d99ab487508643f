// The session's inputs (a capture device through the recorder, or blocks fed by the
// caller) and its delay finder, with the path of a finder result to the delay in force.
#include <algorithm>
#include <vector>

#include "audio/QVRecorder.h"
#include "delay/QVDelayFinder.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "session/AnalysisViews.h"
#include "session/InputTap.h"
#include "session/MainQueueSignal.h"
#include "session/MeasurementSession.h"
#include "session/RecorderWatch.h"

namespace qv::session {

// ---- a capture device ----

bool MeasurementSession::openInput(const std::string& uid, uint32_t channelCountHint) {
  QV_ASSERT_TEXT(!config_.driven, "a driven session is fed by its caller");
  if (recorder_) return true;
  recorder_ = QVRecorder::initWithDeviceUUID(uid, channelCountHint, config_.sampleRate, false,
                                             recorderWatch_, library());
  if (!recorder_) return false;  // the recorder said why
  applyChannelMap();
  recorder_->addConsumer(model_->tfDataSource());
  recorder_->addConsumer(tap_);
  recorder_->addConsumer(views_->levelTap());
  return true;
}

bool MeasurementSession::startCapture(const std::string& uid, uint32_t channelCountHint) {
  if (!openInput(uid, channelCountHint)) return false;
  recorder_->resumeRec();
  return true;
}

void MeasurementSession::stopCapture() {
  if (recorder_) recorder_->pauseRec();
  stopDisplay();
  stopDelayFinder();
}

void MeasurementSession::releaseInput() { recorder_.reset(); }

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
  if (!finder_) finder_ = std::make_shared<QVDelayFinder>(0, 0, finderClock_, false);
  finder_->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  finder_->startWithResultBlockErrorBlock(nullptr, nullptr);
  // The display starts its averages afresh when it starts.
  model_->resetAverages();
}

void MeasurementSession::deliverToDisplay(const float* frames, uint32_t count) {
  QV_ASSERT(count <= kMaxBlockFrames);  // the block contract the consumers rely on
  model_->tfDataSource()->getData(frames, count * kBytesPerFrame);
  tap_->getData(frames, count * kBytesPerFrame);
  views_->levelTap()->getData(frames, count * kBytesPerFrame);
}

void MeasurementSession::deliverToFinder(const float* frames, uint32_t count) {
  QV_ASSERT(count <= kMaxBlockFrames);
  QV_ASSERT_TEXT(finder_ != nullptr, "announce comes first");
  finder_->getData(frames, count * kBytesPerFrame);
}

// ---- delay finder ----

bool MeasurementSession::startDelayFinder() {
  QV_ASSERT_TEXT(!config_.driven, "a driven session starts its finder with announce");
  // Ticks are ours, on the finder's queue: the finder runs no timer of its own.
  if (!finder_) finder_ = std::make_shared<QVDelayFinder>(0, 0, finderClock_, false);
  if (recorder_) {
    // Adding announces the format, which the finder needs before it can start.
    recorder_->addConsumer(finder_);
    finder_->startWithResultBlockErrorBlock(nullptr, [this](const QVDelayFinder::Error& error) {
      autoInsertDelay_ = false;
      log("Could not start AutoDelay: error is : Error Domain=%s Code=%lld \"%s\"",
          error.domain.c_str(), static_cast<long long>(error.code),
          error.localizedDescription.c_str());
    });
    if (finder_->isRunning()) startFinderTimer();
  }
  return finder_->isRunning();
}

void MeasurementSession::startFinderTimer() {
  finderTimer_ =
      GCDTimer::timerOnQueue(finderQueue_, QVDelayFinder::kTimerLeeway, "delaylocator.timer");
  // The tick holds the finder it was made for: dropping the finder meanwhile is safe, and
  // the destructor waits for a running tick before the session goes.
  finderTimer_->scheduleBlock([this, finder = finder_] { runFinderTick(*finder); }, finderInterval_,
                              true);
}

void MeasurementSession::stopDelayFinder() {
  if (finderTimer_) finderTimer_->invalidate();
  if (finder_) finder_->stop();
}

void MeasurementSession::releaseDelayFinder() {
  stopDelayFinder();
  if (finder_ && recorder_) recorder_->removeConsumer(finder_);
  finder_.reset();
}

std::optional<FinderReading> MeasurementSession::finderTick() {
  QV_ASSERT_TEXT(finder_ != nullptr, "announce comes first");
  return runFinderTick(*finder_);
}

std::optional<FinderReading> MeasurementSession::runFinderTick(QVDelayFinder& finder) {
  if (!finder.processTick()) return std::nullopt;
  const QVDelayFinder::Result r = finder.lastResult();
  if (!r.impulse) return std::nullopt;
  publishFinderResult(r.impulse, r.points, r.delay, r.meanCoherence);
  return FinderReading{r.delay, r.meanCoherence, delaySerial_};
}

void MeasurementSession::publishFinderResult(const float* impulse, int32_t count, float delay,
                                             float coherence) {
  const uint64_t serial = ++delaySerial_;
  DelaySnapshot* s = delay_.beginWrite();
  if (!s) return;  // every slot held: the next result comes soon
  const size_t n =
      impulse ? std::min(static_cast<size_t>(std::max(count, 0)), s->buffer.size()) : 0;
  std::copy_n(impulse, n, s->buffer.begin());
  s->points = static_cast<int32_t>(n);
  s->delay = delay;
  s->coherence = coherence;
  s->serial = serial;
  delay_.publish();
  if (delaySignal_) delaySignal_->notify();
}

void MeasurementSession::deliverDelayResult() {
  // A burst of results comes as one delivery: the newest one is the one applied.
  const auto snapshot = delay_.acquire();
  if (!snapshot || snapshot->serial == appliedDelaySerial_) return;
  appliedDelaySerial_ = snapshot->serial;
  const bool accepted =
      applyFinderReading({snapshot->delay, snapshot->coherence, snapshot->serial});
  if (delayListener_) delayListener_(*snapshot, accepted);
}

bool MeasurementSession::applyFinderReading(const FinderReading& reading) {
  if (!autoInsertDelay_) return false;
  const auto delay = acceptance_.accept(reading.delay, reading.coherence);
  return delay && setDelayMs(*delay);
}

}  // namespace qv::session
