#include "cli/AnalysisSession.h"

#include <cmath>

#include "audio/QVRecorderConsumer.h"
#include "delay/QVDelayFinder.h"
#include "engine/TransferFunctionModel.h"
#include "platform/Assert.h"

namespace qv::cli {

AnalysisSession::AnalysisSession(uint32_t sampleRate, const Options& options,
                                 std::shared_ptr<Clock> clock, std::shared_ptr<Clock> finderClock)
    : options_(options), sampleRate_(sampleRate), clock_(std::move(clock)) {
  model_ = std::make_shared<TransferFunctionModel>(kFftSize, sampleRate, kOctResolution,
                                                   options.smoothing, clock_);
  // The recorder delivers measurement first; the model wants the reference first.
  model_->tfDataSource()->setChannelsSwapped(true);
  model_->setDelayLeftAndRight(0, 0);
  model_->setAveragingIndex(static_cast<float>(options.averaging));
  model_->setCoherenceThreshold(options.coherenceThreshold);
  setDelayMs(options.delayMs);
  // The finder is ticked by hand here, never by a timer of its own.
  finder_ =
      std::make_shared<QVDelayFinder>(0, 0, finderClock ? std::move(finderClock) : clock_, false);
}

AnalysisSession::~AnalysisSession() = default;

std::vector<std::shared_ptr<QVRecorderConsumer>> AnalysisSession::consumers() const {
  return {model_->tfDataSource(), finder_};
}

void AnalysisSession::announce(uint32_t sampleRate) {
  for (const auto& consumer : consumers())
    consumer->setInputChannelCountSamplingRateAudioDataTransport(2, sampleRate, {});
  finder_->startWithResultBlockErrorBlock(nullptr, nullptr);
  // The display starts its averages afresh when it starts animating.
  model_->resetAverages();
}

void AnalysisSession::deliver(const float* frames, uint32_t count) {
  deliverToDisplay(frames, count);
  deliverToFinder(frames, count);
}

void AnalysisSession::deliverToDisplay(const float* frames, uint32_t count) {
  QV_ASSERT(count <= kMaxBlockFrames);  // the block contract the consumers rely on
  model_->tfDataSource()->getData(frames, count * 8);
  framesDelivered_ += count;
}

void AnalysisSession::deliverToFinder(const float* frames, uint32_t count) {
  finder_->getData(frames, count * 8);
}

void AnalysisSession::displayTick() { model_->transform(0); }

void AnalysisSession::finderTick() {
  if (const auto delay = finderStep()) setDelayMs(*delay);
}

std::optional<float> AnalysisSession::finderStep() {
  if (!finder_->processTick()) return std::nullopt;
  const auto r = finder_->lastResult();
  if (!r.impulse) return std::nullopt;
  haveFinderResult_ = true;
  // Inserted as the main window does: only a confident, plausible delay, in ms rounded
  // up to the next hundredth.
  if (options_.autoDelay && r.meanCoherence > 0.1f && std::fabs(r.delay) <= 3.0f)
    return static_cast<float>(std::ceil(static_cast<double>(r.delay) * 100000.0) / 100.0);
  return std::nullopt;
}

void AnalysisSession::setDelayMs(float v) {
  if (std::fabs(static_cast<double>(v)) < 0.009) v = 0.0f;
  delayMs_ = v;
  model_->setDelayLeftAndRight(v < 0 ? -v : 0.0f, v > 0 ? v : 0.0f);
}

AnalysisResult AnalysisSession::result() const {
  AnalysisResult r;
  r.sampleRate = sampleRate_;
  r.fftSize = kFftSize;
  r.smoothing = options_.smoothing;
  r.averaging = options_.averaging;
  r.coherenceThreshold = options_.coherenceThreshold;
  r.delaySetMs = delayMs_;
  r.framesAnalysed = framesDelivered_;
  const auto mag = model_->mpolyline();
  const auto phs = model_->ppolyline();
  const auto coh = model_->cpolyline();
  const size_t bands = static_cast<size_t>(mag->count());
  r.frequency.resize(bands);
  r.magnitude.assign(mag->values(), mag->values() + bands);
  r.phase.assign(phs->values(), phs->values() + bands);
  r.coherence.resize(bands);
  for (size_t b = 0; b < bands; ++b) {
    r.frequency[b] = static_cast<float>(model_->frequencyForBandIndex(static_cast<float>(b)));
    r.coherence[b] = coh->values()[b] / 180.0f;
  }
  if (haveFinderResult_) {
    const auto f = finder_->lastResult();
    r.delayFoundMs = f.delay * 1000.0f;
    r.meanCoherence = f.meanCoherence;
    r.impulse.assign(f.impulse, f.impulse + f.points);
  }
  return r;
}

}  // namespace qv::cli
