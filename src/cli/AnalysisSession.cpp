#include "cli/AnalysisSession.h"

#include <cmath>
#include <limits>

#include "engine/AnalysisConstants.h"
#include "engine/FractionalOctaveBands.h"
#include "engine/SpectrumAveraging.h"
#include "session/AnalysisViews.h"

namespace qv::cli {

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
  session.setAutoInsertDelay(options.autoDelay);
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
  r.framesAnalysed = session.framesDelivered();
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
  if (const auto delay = session.latestDelay()) {
    r.delayFoundMs = delay->delay * 1000.0f;
    r.meanCoherence = delay->coherence;
    r.impulse.assign(delay->impulse().begin(), delay->impulse().end());
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
