#pragma once
// The curve files the analysis options name: the measurement microphone's calibration
// (--mic-cal), applied by the session to every curve it publishes, and a target curve
// (--target) the result is held against. A damaged file stops the run with its line
// number. Main thread.
#include "cli/Options.h"
#include "export/AnalysisResult.h"
#include "session/MeasurementSession.h"

namespace qv::cli {

// Reads both files, so that a bad one ends the run before any audio is opened. Throws
// CliError naming the file and the line at fault.
void checkCurveFiles(const Options& options);
// The session corrects its curves by the calibration, if one is named.
void applyCurveOptions(session::MeasurementSession& session, const Options& options);
// The result's magnitude held against the target, if one is named.
void compareWithTarget(AnalysisResult& result, const Options& options);

}  // namespace qv::cli
