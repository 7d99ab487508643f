#include "cli/AnalysisSession.h"

#include "engine/AnalysisConstants.h"

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
  if (curves->calibration) r.micCalibration = curves->calibration->name();
  if (const auto delay = session.latestDelay()) {
    r.delayFoundMs = delay->delay * 1000.0f;
    r.meanCoherence = delay->coherence;
    r.impulse.assign(delay->impulse().begin(), delay->impulse().end());
  }
  return r;
}

}  // namespace qv::cli
