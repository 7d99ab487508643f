#pragma once
// The command line's side of a measurement session: the session's settings from the
// options, and the result from what the session published last.
#include <cstdint>
#include <memory>

#include "cli/Options.h"
#include "export/AnalysisResult.h"
#include "platform/Clock.h"
#include "session/MeasurementSession.h"

namespace qv::cli {

// Smoothing, averaging and coherence threshold from the options, the bands laid out for
// `sampleRate`.
session::MeasurementSession::Config sessionConfig(const Options& options, uint32_t sampleRate);

// The delay and automatic insertion as the options ask.
void applyDelayOptions(session::MeasurementSession& session, const Options& options);

// The views the spectrum outputs need (--rta, --group-delay), set before the first tick.
void applyViewOptions(session::MeasurementSession& session, const Options& options);

// The curves, delay and summary the session holds now (call after its last tick).
AnalysisResult resultOf(const session::MeasurementSession& session, const Options& options);

}  // namespace qv::cli
