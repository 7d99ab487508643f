// The session's chain, its display tick, its controls and what it publishes. The inputs
// (device, fed blocks) are in MeasurementSessionInputs.cpp, the delay finder and the delay
// in force in MeasurementSessionDelay.cpp.
#include "session/MeasurementSession.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "delay/DelayLocator.h"
#include "engine/AnalysisConstants.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"
#include "platform/FftBackend.h"
#include "platform/Log.h"
#include "session/AnalysisViews.h"
#include "session/DeviceSentences.h"
#include "session/DisplayAdjustments.h"
#include "session/DriftStage.h"
#include "session/InputTap.h"
#include "session/MainQueueSignal.h"
#include "session/RecorderWatch.h"
#include "session/SessionInput.h"

namespace qv::session {
namespace {

constexpr uint64_t kDisplayTimerLeewayNs = 1'000'000;
// The finder ticks twice as often on machines of five processors or more.
constexpr double kFinderTick = 0.1;
constexpr double kFastFinderTick = 0.05;

unsigned processors(unsigned given) {
  return given ? given : std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

MeasurementSession::MeasurementSession(Config config)
    : config_(std::move(config)),
      clock_(config_.clock ? config_.clock : Clock::system()),
      finderClock_(config_.finderClock ? config_.finderClock : clock_),
      axis_(nullptr, kAnalysisFftSize, config_.sampleRate, kBandsPerOctave),
      model_(std::make_shared<TransferFunctionModel>(kAnalysisFftSize, config_.sampleRate,
                                                     kBandsPerOctave, config_.smoothing, clock_)),
      tap_(std::make_shared<InputTap>()),
      adjustments_(std::make_shared<DisplayAdjustments>(static_cast<size_t>(axis_.bandCount()))),
      acceptance_(kAnalysisFftSize, config_.sampleRate),
      display_([this](DisplaySnapshot& s) {
        const auto bands = static_cast<size_t>(axis_.bandCount());
        s.magnitude.resize(bands);
        s.phase.resize(bands);
        s.coherence.resize(bands);
        s.relative.reset(bands);
        s.axis = &axis_;
      }),
      // The finder runs at the session's rate: its impulses are never longer than this.
      delay_([rate = config_.sampleRate](DelaySnapshot& s) {
        s.buffer.resize(static_cast<size_t>(FineDelaySearch::sizeFor(rate)));
      }) {
  // The recorder delivers the measurement first; the model wants the reference first.
  model_->tfDataSource()->setChannelsSwapped(true);
  model_->tfDataSource()->setDelay(0.0);
  acceptance_.setApplied(0.0);
  if (config_.driven) {
    displayStage_ = std::make_unique<DriftStage>();
    fedFinderStage_ = std::make_unique<DriftStage>();
  } else {
    input_ = std::make_shared<SessionInput>(model_->tfDataSource(), tap_);
  }
  model_->setAveragingIndex(config_.averagingIndex);
  model_->setCoherenceThreshold(config_.coherenceThreshold);
  smoothing_ = config_.smoothing;

  const unsigned cpus = processors(config_.processorCount);
  displayInterval_ = config_.displayInterval > 0.0 ? config_.displayInterval
                                                   : (cpus > 2 ? 1.0 / 30.0 : 1.0 / 15.0);
  finderInterval_ = config_.finderInterval > 0.0 ? config_.finderInterval
                    : cpus >= 5                  ? kFastFinderTick
                                                 : kFinderTick;

  // The recorder reports its channel's start and stop, so the display ticks exactly while
  // audio flows.
  recorderWatch_ = std::make_shared<RecorderWatch>(
      [this](bool started) {
        if (started) {
          startDisplay();
        } else {
          stopDisplay();
        }
      },
      [this](CaptureEnd why) { inputWentAway(why); });
  views_ = std::make_unique<AnalysisViews>(
      AnalysisViews::Format{config_.sampleRate, kAnalysisFftSize, kBandsPerOctave,
                            axis_.bandCount(), displayInterval_},
      [driven = config_.driven](std::function<void()> change) {
        // Between ticks: on the update queue, or at once when the caller ticks.
        if (driven) {
          change();
        } else {
          updateQueue()->async(std::move(change));
        }
      },
      clock_, !config_.driven);
  if (!config_.driven) {
    finderQueue_ = dispatch::makeSerialQueue("delaylocator.queue");
    delaySignal_ = std::make_unique<MainQueueSignal>([this] { deliverDelayResult(); });
    displaySignal_ = std::make_unique<MainQueueSignal>([this] {
      if (displayListener_) displayListener_();
    });
  }
  // Readers find curves from the start: the model's, before any transform.
  publishDisplay();
}

MeasurementSession::~MeasurementSession() {
  *alive_ = false;
  if (devicesListener_ != 0) library().removeDevicesChangedListener(devicesListener_);
  if (watchTimer_) watchTimer_->invalidate();
  recorderWatch_->detach();
  if (displayTimer_) displayTimer_->invalidate();
  if (finderTimer_) finderTimer_->invalidate();
  if (generator_) generator_->stop();
  if (finder_) finder_->stop();
  recorder_.reset();
  // A tick (or smoothing change) already running or queued finishes before the chain goes.
  if (!config_.driven) {
    updateQueue()->sync([] {});
    finderQueue_->sync([] {});
  }
}

std::shared_ptr<dispatch::Queue> MeasurementSession::updateQueue() {
  // Serial, so that a smoothing change never runs while a tick transforms the model.
  static const std::shared_ptr<dispatch::Queue> queue =
      dispatch::makeSerialQueue("qvx.update.timer.queue");
  return queue;
}

// ---- display ----

void MeasurementSession::startDisplay() {
  QV_ASSERT_TEXT(!config_.driven, "a driven session is ticked by its caller");
  lastTick_.store(clock_->now());
  // The old timer is invalidated as it goes; a fire of it still queued does nothing.
  displayTimer_ = GCDTimer::timerOnQueue(updateQueue(), kDisplayTimerLeewayNs, "qvx.update.timer");
  // The destructor invalidates the timer and waits for a running tick, so no tick outlives
  // the session.
  displayTimer_->scheduleBlock([this] { displayTick(); }, displayInterval_, true);
  model_->resetAverages();
  displayRunning_ = true;
  if (runningListener_) runningListener_(true);
}

void MeasurementSession::stopDisplay() {
  if (displayTimer_) displayTimer_->invalidate();
  const bool was = displayRunning_;
  displayRunning_ = false;
  if (was && runningListener_) runningListener_(false);
}

void MeasurementSession::displayTick() {
  const bool blank = advanceAverages();
  model_->curves();
  views_->tick(*model_);
  publishSnapshot(blank);
  displayTicks_.fetch_add(1, std::memory_order_relaxed);
  if (signalDisplay_.load(std::memory_order_acquire)) displaySignal_->notify();
}

void MeasurementSession::advanceDisplay() {
  QV_ASSERT(config_.driven);
  advanceAverages();
  views_->tick(*model_);
  float levels[2];
  takeLevels(levels);
  displayTicks_.fetch_add(1, std::memory_order_relaxed);
}

bool MeasurementSession::advanceAverages() {
  const double now = clock_->now();
  // After a return, old audio may still fill the analysis window: each frame then stands
  // alone, and the first window of new audio alone starts the averages.
  const int64_t freshFrom = freshFrom_.load(std::memory_order_acquire);
  if (freshFrom >= 0) model_->resetAverages();
  model_->advance(now - lastTick_.exchange(now));
  if (freshFrom < 0) return false;
  int64_t expected = freshFrom;
  if (model_->tfDataSource()->analysedFrameStart() < freshFrom) return true;
  freshFrom_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
  return false;
}

void MeasurementSession::publishDisplay() { publishSnapshot(false); }

void MeasurementSession::publishSnapshot(bool blank) {
  // The peaks are taken even when no slot is free, so that they never pile up.
  float levels[2];
  takeLevels(levels);
  DisplaySnapshot* s = display_.beginWrite();
  if (!s) return;
  const auto bands = s->magnitude.size();
  if (blank) {
    for (auto* curve : {&s->magnitude, &s->phase, &s->coherence})
      std::fill(curve->begin(), curve->end(), std::numeric_limits<float>::quiet_NaN());
  } else {
    std::copy_n(model_->mpolyline()->values(), bands, s->magnitude.begin());
    std::copy_n(model_->ppolyline()->values(), bands, s->phase.begin());
    std::copy_n(model_->cpolyline()->values(), bands, s->coherence.begin());
  }
  s->serial = displaySerial_++;
  s->time = clock_->now();
  s->smoothing = model_->smoothing();
  s->averagingIndex = model_->averagingIndex();
  s->coherenceThreshold = model_->coherenceThreshold();
  s->delayMs = delayInForce_.load(std::memory_order_relaxed);
  s->levels[0] = levels[0];
  s->levels[1] = levels[1];
  s->framesDelivered = tap_->frames();
  s->blocksDelivered = tap_->blocks();
  s->droppedFrames = droppedFrames_.load(std::memory_order_relaxed);
  s->xruns = xruns_.load(std::memory_order_relaxed);
  adjustments_->apply(*s);
  display_.publish();
}

void MeasurementSession::takeLevels(float levels[2]) {
  float peaks[2];
  tap_->takePeaks(peaks);
  for (int c = 0; c < 2; ++c) {
    // Peaks show at once; a falling level closes 5 % of the gap per snapshot.
    levels_[c] = peaks[c] > levels_[c] ? peaks[c] : 0.05f * peaks[c] + 0.95f * levels_[c];
    levels[c] = levels_[c];
  }
}

AudioLibrary& MeasurementSession::library() const {
  // Only devices need it: a session fed from files never starts the audio back ends.
  return config_.library ? *config_.library : AudioLibrary::shared();
}

// ---- controls ----

void MeasurementSession::setSmoothing(int64_t smoothing) {
  smoothing_ = smoothing;
  if (config_.driven) {
    model_->setSmoothing(smoothing);
    return;
  }
  auto model = model_;
  updateQueue()->async([model, smoothing] { model->setSmoothing(smoothing); });
}

void MeasurementSession::setAveragingIndex(float index) { model_->setAveragingIndex(index); }

float MeasurementSession::averagingIndex() const { return model_->averagingIndex(); }

void MeasurementSession::resetAverages() { model_->resetAverages(); }

void MeasurementSession::setCoherenceThreshold(float threshold) {
  model_->setCoherenceThreshold(threshold);
}

bool MeasurementSession::setGeneratorOn(bool on, const std::string& uid) {
  if (!generator_) generator_ = std::make_unique<GeneratorController>(library());
  generatorWanted_ = on;
  generatorUid_ = uid;
  lostOutput_.reset();
  if (on) {
    generator_->setSampleRate(static_cast<int32_t>(kAnalysisSampleRate));
    generator_->setDeviceHandle(QXBassHelper(library()).playbackDeviceHandleForUUID(uid));
    generator_->start();
    if (!generator_->isOn()) {
      generatorWanted_ = false;
      notify(outputFailedNotice(outputDeviceName(uid), generator_->lastError()));
    }
  } else {
    generator_->stop();
  }
  updateWatch();
  return generator_->isOn();
}

bool MeasurementSession::generatorOn() const { return generator_ && generator_->isOn(); }

int64_t MeasurementSession::framesDelivered() const { return tap_->frames(); }

// ---- corrections and comparisons ----

void MeasurementSession::setMicCalibration(
    std::shared_ptr<const curves::MicCalibration> calibration) {
  micCalibration_ = calibration;
  adjust([calibration = std::move(calibration)](DisplayAdjustments& a) {
    a.setCalibration(calibration);
  });
}

void MeasurementSession::setCompareReference(std::shared_ptr<const curves::BandCurves> reference) {
  hasCompareReference_ = reference != nullptr;
  adjust([reference = std::move(reference)](DisplayAdjustments& a) { a.setReference(reference); });
}

void MeasurementSession::adjust(std::function<void(DisplayAdjustments&)> change) {
  if (config_.driven) {
    change(*adjustments_);
    return;
  }
  // On the update queue, between ticks, and published at once, so that a stopped display
  // shows the change too. The destructor waits for this block: `this` is still there.
  updateQueue()->async([this, change = std::move(change)] {
    change(*adjustments_);
    publishDisplay();
    if (signalDisplay_.load(std::memory_order_acquire)) displaySignal_->notify();
  });
}

// ---- listeners ----

void MeasurementSession::setDisplayListener(std::function<void()> listener) {
  displayListener_ = std::move(listener);
  // Ticks wake the control thread only while somebody listens.
  signalDisplay_.store(displayListener_ && displaySignal_, std::memory_order_release);
}

void MeasurementSession::setDelayListener(
    std::function<void(const DelaySnapshot&, bool)> listener) {
  delayListener_ = std::move(listener);
}

void MeasurementSession::setRunningListener(std::function<void(bool)> listener) {
  runningListener_ = std::move(listener);
}

void MeasurementSession::setReadingListener(
    std::function<void(const FinderReading&, bool)> listener) {
  readingListener_ = std::move(listener);
}

}  // namespace qv::session
