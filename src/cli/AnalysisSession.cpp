#include "cli/AnalysisSession.h"

#include <cmath>
#include <limits>

#include "delay/DelayEstimate.h"
#include "engine/AnalysisConstants.h"
#include "engine/AveragingChoice.h"
#include "engine/FractionalOctaveBands.h"
#include "engine/SpectrumAveraging.h"
#include "session/AnalysisViews.h"

namespace qv::cli {
namespace {

const char* modeName(DelayPolicy::Mode mode) {
  switch (mode) {
    case DelayPolicy::Mode::Auto:
      return "auto";
    case DelayPolicy::Mode::Track:
      return "track";
    case DelayPolicy::Mode::Manual:
      break;
  }
  return "manual";
}

}  // namespace

session::MeasurementSession::Config sessionConfig(const Options& options, uint32_t sampleRate) {
  session::MeasurementSession::Config config;
  config.sampleRate = sampleRate;
  config.smoothing = options.smoothing;
  config.averagingIndex = static_cast<float>(options.averaging);
  config.coherenceThreshold = options.coherenceThreshold;
  return config;
}

void applyDelayOptions(session::MeasurementSession& session, const Options& options) {
  session.setDelayMs(options.delayMs);
  session.setTracking(options.track);
  session.setAutoInsertDelay(options.autoDelay);
  if (options.finderBand)
    session.setFinderBand(options.finderBand->first, options.finderBand->second);
}

RunLog::RunLog(session::MeasurementSession& session, const Options& options)
    : session_(session),
      timeline_(options.timeline.has_value()),
      every_(options.snapshotEvery.value_or(0.0)),
      next_(every_) {
  if (!timeline_) return;
  session_.setReadingListener([this](const session::FinderReading& reading, bool changed) {
    const DelayEstimate& e = reading.estimate;
    DelayTimelineRow row;
    row.timeSeconds = e.rate ? static_cast<double>(e.position) / e.rate : 0.0;
    row.state = delayStateName(e.state);
    row.foundMs = e.delaySeconds() * 1000.0;
    row.foundSamples = e.delaySamples;
    row.insertedMs = session_.delayMs();
    row.changed = changed;
    row.peakToNext = e.peakToNext;
    row.peakToNoise = e.peakToNoise;
    row.inverted = e.inverted;
    row.coherence = e.meanCoherence;
    row.driftPpm = reading.driftPpm;
    rows_.push_back(std::move(row));
  });
}

RunLog::~RunLog() {
  if (timeline_) session_.setReadingListener(nullptr);
}

void RunLog::afterDisplayTick(double seconds) {
  if (!wantsCurves(seconds)) return;
  const auto curves = session_.latestDisplay();
  CurveSnapshot snapshot;
  snapshot.timeSeconds = next_;
  snapshot.magnitude = curves->magnitude;
  snapshot.phase = curves->phase;
  snapshot.coherence.resize(curves->coherence.size());
  for (size_t b = 0; b < curves->coherence.size(); ++b)
    snapshot.coherence[b] = curves->coherence[b] / kCoherenceScale;
  snapshots_.push_back(std::move(snapshot));
  // One snapshot per tick at most: a tick that comes late does not make up for the missed.
  while (next_ <= seconds + 1e-9) next_ += every_;
}

void RunLog::fill(AnalysisResult& result) {
  result.timeline = std::move(rows_);
  result.snapshots = std::move(snapshots_);
}

void applyViewOptions(session::MeasurementSession& session, const Options& options) {
  session::AnalysisViews::Config c;
  if (options.rta) {
    c.rta.shown = true;
    c.rta.settings.bandsPerOctave = options.octave;
    // The mean of every frame of the run: a recording's long-term spectrum.
    c.rta.settings.averaging = SpectrumAveraging::infinite();
    c.rta.settings.weighting = options.weighting;
  }
  if (options.groupDelay) {
    c.groupDelay.shown = true;
    c.groupDelay.smoothing = options.smoothing;
    c.groupDelay.coherenceThreshold = options.coherenceThreshold;
    c.groupDelay.includesCompensation = true;
  }
  session.views().configure(c);
}

namespace {

AnalysisResult::Spectrum spectrumOf(const session::ViewsSnapshot* views, const Options& options,
                                    uint32_t sampleRate) {
  AnalysisResult::Spectrum s;
  s.bandsPerOctave = options.octave;
  s.weighting = FrequencyWeighting::name(options.weighting);
  const FractionalOctaveBands bands(options.octave, sampleRate);
  const auto count = static_cast<size_t>(bands.count());
  const bool measured =
      views && views->rta.shown && views->rta.frames > 0 && views->rta.count == bands.count();
  const float none = std::numeric_limits<float>::quiet_NaN();
  for (size_t b = 0; b < count; ++b) {
    s.frequency.push_back(static_cast<float>(bands.centre(static_cast<int32_t>(b))));
    s.measurement.push_back(measured ? views->rta.levels[0][b] : none);
    s.reference.push_back(measured ? views->rta.levels[1][b] : none);
  }
  return s;
}

}  // namespace

AnalysisResult resultOf(const session::MeasurementSession& session, const Options& options) {
  AnalysisResult r;
  r.sampleRate = session.sampleRate();
  r.fftSize = kAnalysisFftSize;
  r.smoothing = options.smoothing;
  r.averaging = options.averaging;
  r.coherenceThreshold = options.coherenceThreshold;
  r.delaySetMs = session.delayMs();
  r.delayAppliedMs = session.appliedDelayMs();
  r.delayAppliedSamples = session.appliedDelaySamples();
  r.finderBand = options.finderBand;
  r.framesAnalysed = session.framesDelivered();
  // Both commands tick the display 30 times a second, live and in simulated time.
  r.averagingLabel = AveragingChoice::label(options.averaging, 1.0 / 30.0);
  r.averagingTimeConstant = AveragingChoice::timeConstant(options.averaging, 1.0 / 30.0);
  const ChannelLosses losses = session.losses();
  r.droppedFrames = losses.droppedFrames;
  r.xruns = losses.xruns;
  const auto curves = session.latestDisplay();
  const auto bands = static_cast<size_t>(curves->bandCount());
  r.frequency.resize(bands);
  r.magnitude = curves->magnitude;
  r.phase = curves->phase;
  r.coherence.resize(bands);
  for (size_t b = 0; b < bands; ++b) {
    r.frequency[b] = curves->axis->frequencyForBandIndex(static_cast<float>(b));
    r.coherence[b] = curves->coherence[b] / kCoherenceScale;
  }
  if (curves->calibration) r.micCalibration = curves->calibration->name();
  const session::DelayStatus& status = session.delayStatus();
  r.delayMode = modeName(status.mode);
  r.delayChanges = status.changes;
  r.driftPpm = status.driftPpm;
  if (status.haveReading) {
    const DelayEstimate& e = status.estimate;
    r.delayState = delayStateName(e.state);
    r.delayFoundMs = e.delaySeconds() * 1000.0;
    r.delayFoundSamples = e.delaySamples;
    r.meanCoherence = static_cast<float>(e.meanCoherence);
    r.peakToNext = e.peakToNext;
    r.peakToNoise = e.peakToNoise;
    r.inverted = e.inverted;
  }
  if (const auto delay = session.latestDelay()) {
    r.impulse.assign(delay->impulse().begin(), delay->impulse().end());
    r.impulseStart = delay->impulseStart;
  }
  if (options.rta || options.groupDelay) {
    const auto views = session.views().latest();
    if (options.rta) r.spectrum = spectrumOf(views.get(), options, session.sampleRate());
    if (options.groupDelay) {
      if (views && views->groupDelay.shown) {
        r.groupDelay = views->groupDelay.values;
      } else {
        r.groupDelay.assign(bands, std::numeric_limits<float>::quiet_NaN());
      }
    }
  }
  return r;
}

}  // namespace qv::cli
