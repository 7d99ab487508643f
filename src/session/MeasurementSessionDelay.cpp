// The session's delay finder and the delay in force: the finder's ticks with the drift they
// reveal, the readings' path to the acceptance rule, and the delay set by hand.
#include <algorithm>
#include <cmath>

#include "audio/QVRecorder.h"
#include "delay/DelayLocator.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "session/DriftStage.h"
#include "session/MainQueueSignal.h"
#include "session/MeasurementSession.h"
#include "session/SessionInput.h"

namespace qv::session {
namespace {

constexpr uint64_t kFinderTimerLeewayNs = 10'000'000;
// A drift is first taken out once it is this clear: two clocks are seldom closer, and below
// it a minute of audio moves by less than a hundredth of a millisecond.
constexpr double kFirstDriftPpm = 0.5;
// ... and once the delay has travelled this many samples along the line: consecutive results
// share most of their audio, so a settling estimate can look like a slope of a ppm or so
// over a few seconds of a steady path (a fraction of a sample), which no drift is.
constexpr double kFirstDriftTravelSamples = 1.0;
// Beyond this the delay moves for another reason than a clock (a source that walks).
constexpr double kLargestDriftPpm = 1000.0;

}  // namespace

// ---- the finder ----

bool MeasurementSession::startDelayFinder() {
  QV_ASSERT_TEXT(!config_.driven, "a driven session starts its finder with announce");
  if (!recorder_) return finder_ && finder_->isRunning();
  // Ticks are ours, on the finder's queue: the finder runs no timer of its own.
  if (!finder_) {
    // The recorder delivers the session's rate whatever the device's.
    finder_ = std::make_shared<DelayLocator>(/*ownTimer=*/false, config_.sampleRate);
    finder_->setSettings(searchSettings_);
  }
  if (finder_->isRunning()) return true;
  // Attached on the recorder's queue, so that the offset between the finder's frames and
  // the display chain's is counted between two blocks.
  recorder_->performSafeBlock([this] { input_->attachFinder(finder_); });
  finder_->restart();
  acceptance_.restart();
  if (!finder_->start(nullptr, DelayLocator::Delivery::TickThread)) {
    autoInsertDelay_ = false;
    updateMode();
    recorder_->performSafeBlock([this] { input_->detachFinder(); });
    log("Could not start AutoDelay: error is : the recorder delivers %u channels, not 2",
        input_->inputChannelCount());
    return false;
  }
  startFinderTimer();
  return true;
}

void MeasurementSession::startFinderTimer() {
  finderTimer_ = GCDTimer::timerOnQueue(finderQueue_, kFinderTimerLeewayNs, "delaylocator.timer");
  // The tick holds the finder it was made for: dropping the finder meanwhile is safe, and
  // the destructor waits for a running tick before the session goes.
  finderTimer_->scheduleBlock([this, finder = finder_] { runFinderTick(*finder); }, finderInterval_,
                              true);
}

void MeasurementSession::stopDelayFinder() {
  if (finderTimer_) finderTimer_->invalidate();
  if (!finder_) return;
  finder_->stop();
  // Not fed while it does not tick: its ring would overflow.
  if (recorder_ && input_) recorder_->performSafeBlock([this] { input_->detachFinder(); });
}

void MeasurementSession::releaseDelayFinder() {
  stopDelayFinder();
  if (finderQueue_) finderQueue_->sync([] {});  // a tick already running ends first
  finder_.reset();
}

bool MeasurementSession::delayFinderRunning() const { return finder_ && finder_->isRunning(); }

void MeasurementSession::setAutoInsertDelay(bool on) {
  autoInsertDelay_ = on;
  updateMode();
}

void MeasurementSession::setTracking(bool on) {
  tracking_ = on;
  updateMode();
}

void MeasurementSession::updateMode() {
  acceptance_.setMode(!autoInsertDelay_ ? DelayAcceptance::Mode::Manual
                      : tracking_       ? DelayAcceptance::Mode::Track
                                        : DelayAcceptance::Mode::Auto);
  status_.mode = acceptance_.mode();
}

void MeasurementSession::setFinderBand(double loHz, double hiHz) {
  searchSettings_.bandLoHz = loHz;
  searchSettings_.bandHiHz = hiHz;
  searchSettings_.rangeSeconds = kMaxDelayMs / 1000.0;
  if (finder_) finder_->setSettings(searchSettings_);
}

// ---- finder ticks ----

std::optional<FinderReading> MeasurementSession::finderTick() {
  QV_ASSERT_TEXT(finder_ != nullptr, "announce comes first");
  return runFinderTick(*finder_);
}

std::optional<FinderReading> MeasurementSession::runFinderTick(DelayLocator& finder) {
  if (!finder.processTick()) return std::nullopt;
  FinderReading reading;
  reading.driftPpm = finderStage().scheduledPpm();
  correctDrift(finder.lastEstimate(), reading);
  return publishFinderResult(finder.lastEstimate(), reading);
}

DriftStage& MeasurementSession::finderStage() {
  return config_.driven ? *fedFinderStage_ : input_->stage();
}

void MeasurementSession::correctDrift(const DelayEstimate& estimate, FinderReading& reading) {
  // Only while the finder's delays are inserted: otherwise the delay set by hand would be
  // frozen wherever the drift had taken it by then.
  if (!autoInsertDelay_) return;
  drift_.add(estimate);
  DriftStage& stage = finderStage();
  const DriftEstimator::Estimate seen = drift_.estimate();
  const double travel = std::fabs(seen.ppm) * 1e-6 * seen.spanSeconds * estimate.rate;
  if (stage.scheduledPpm() == 0.0 &&
      !(std::fabs(seen.ppm) >= kFirstDriftPpm && travel >= kFirstDriftTravelSamples))
    return;
  double correction = 0.0;
  if (!drift_.takeCorrection(&correction)) return;
  const double ppm = DriftResampler::compose(stage.scheduledPpm(), correction);
  if (std::fabs(ppm) > kLargestDriftPpm) return;
  // A file's two stages change at the same block: the one after the display has heard of it.
  const int64_t from = config_.driven ? stage.framesIn() + 1 : 0;
  stage.schedule(ppm, from);
  reading.driftPpm = ppm;
  reading.driftChanged = true;
  reading.driftFrom = from;
}

FinderReading MeasurementSession::publishFinderResult(const DelayEstimate& estimate,
                                                      FinderReading reading) {
  reading.estimate = estimate;
  reading.estimate.impulse = nullptr;
  reading.serial = ++delaySerial_;
  if (DelaySnapshot* s = delay_.beginWrite()) {  // none free when every slot is held
    const size_t n =
        estimate.impulse
            ? std::min(static_cast<size_t>(std::max(estimate.impulseCount, 0)), s->buffer.size())
            : 0;
    std::copy_n(estimate.impulse, n, s->buffer.begin());
    s->points = static_cast<int32_t>(n);
    s->impulseStart = estimate.impulseStart;
    s->estimate = reading.estimate;
    s->delay = static_cast<float>(estimate.delaySeconds());
    s->coherence = static_cast<float>(estimate.meanCoherence);
    s->driftPpm = reading.driftPpm;
    s->serial = reading.serial;
    delay_.publish();
  }
  if (!config_.driven) {
    readings_.push(reading);
    delaySignal_->notify();
  }
  return reading;
}

// ---- readings to the delay in force ----

void MeasurementSession::deliverDelayResult() {
  // Every reading in order (the rule counts consecutive results); the listener hears the
  // newest result once.
  bool accepted = false, any = false;
  FinderReading reading;
  while (readings_.pop(&reading)) {
    any = true;
    accepted = applyFinderReading(reading) || accepted;
  }
  if (!any) return;
  const auto snapshot = delay_.acquire();
  if (snapshot && delayListener_) delayListener_(*snapshot, accepted);
}

bool MeasurementSession::applyFinderReading(const FinderReading& reading) {
  status_.haveReading = true;
  status_.estimate = reading.estimate;
  status_.driftPpm = reading.driftPpm;
  if (reading.driftChanged && displayStage_)
    displayStage_->schedule(reading.driftPpm, reading.driftFrom);
  const DelayDecision decision = acceptance_.consider(reading.estimate);
  status_.changes = acceptance_.changes();
  const bool changed = decision.insert && applyDecision(decision);
  if (readingListener_) readingListener_(reading, changed);
  return changed;
}

double MeasurementSession::appliedDelayMs() const {
  return model_->tfDataSource()->appliedDelayMs();
}

double MeasurementSession::appliedDelaySamples() const {
  return model_->tfDataSource()->appliedDelaySamples();
}

bool MeasurementSession::applyDecision(const DelayDecision& d) {
  int64_t from = TFDataSource::kRestartNow;
  if (d.change == DelayChange::Restart && d.restartFrom != DelayDecision::kRestartNow)
    from = d.restartFrom + (input_ ? input_->finderOffset() : 0);
  if (!model_->tfDataSource()->setDelay(d.delayMs, d.change, from)) return false;
  delayMs_ = d.delayMs;
  delayInForce_.store(d.delayMs, std::memory_order_relaxed);
  status_.appliedMs = d.delayMs;
  status_.appliedSamples = d.delaySamples;
  return true;
}

// ---- the delay set by hand ----

bool MeasurementSession::setDelayMs(double v) {
  if (!std::isfinite(v)) {
    log("Delay %f ms ignored", v);
    return false;
  }
  if (std::fabs(v) > kMaxDelayMs) {
    log("Delay %g ms ignored: it lies beyond -3000 to 3000 ms", v);
    return false;
  }
  if (std::fabs(v) < 0.009) v = 0.0;
  const DelayChange change = acceptance_.changeByHand(delayMs_, v);
  model_->tfDataSource()->setDelay(v, change);
  acceptance_.setApplied(v);
  delayMs_ = v;
  delayInForce_.store(v, std::memory_order_relaxed);
  status_.appliedMs = v;
  status_.appliedSamples = v * config_.sampleRate / 1000.0;
  return true;
}

}  // namespace qv::session
