#pragma once
// The command line's side of a measurement session: the session's settings from the
// options, what the run keeps along the way, and the result from what the session holds
// at the end.
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

// The delay, automatic insertion, tracking and the finder's band as the options ask.
void applyDelayOptions(session::MeasurementSession& session, const Options& options);

// The views the spectrum outputs need (--rta, --group-delay), set before the first tick.
void applyViewOptions(session::MeasurementSession& session, const Options& options);
// What a run keeps along the way: a timeline row for every finder reading (--timeline) and
// the curves every so often (--snapshot-every). Listens to the session from its making to
// its end; on the thread that applies the readings.
class RunLog {
 public:
  RunLog(session::MeasurementSession& session, const Options& options);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Whether the display tick `seconds` into the audio must make curves: a snapshot is due.
  bool wantsCurves(double seconds) const { return every_ > 0.0 && seconds + 1e-9 >= next_; }
  // After a display tick `seconds` into the audio: the curves, when a snapshot is due.
  void afterDisplayTick(double seconds);
  // Hands what was kept to the result.
  void fill(AnalysisResult& result);

 private:
  session::MeasurementSession& session_;
  bool timeline_;
  double every_;
  double next_;
  std::vector<DelayTimelineRow> rows_;
  std::vector<CurveSnapshot> snapshots_;
};

// The curves, delay and summary the session holds now (call after its last tick).
AnalysisResult resultOf(const session::MeasurementSession& session, const Options& options);

}  // namespace qv::cli
