#pragma once
// Traces as curves to work with: their stored and displayed curves, one relative to
// another, an average of several, a curve file made ready to store. Nothing here writes;
// the results are stored with TraceManager::addTrace (the desktop) or addTraceWaiting (the
// command line). Stateless; any thread (TraceShot values are copies).
//
// Comparing the live curves with a trace: take displayedCurvesOf(trace) once, then on each
// tick curves::CurveCompare::difference(live, reference, out), which allocates nothing
// after the first call.
#include <optional>
#include <string>
#include <vector>

#include "curves/BandAxis.h"
#include "curves/BandCurves.h"
#include "curves/CurveTextTable.h"
#include "traces/TraceManager.h"
#include "traces/TraceShot.h"

namespace qv {

class TraceWorkbench {
 public:
  // The trace's stored curves; no value when a curve is missing or their lengths differ.
  static std::optional<curves::BandCurves> curvesOf(const TraceShot& shot);
  // As drawn: with the trace's level and delay offsets applied.
  static std::optional<curves::BandCurves> displayedCurvesOf(const TraceShot& shot);
  // `shot` relative to `reference`, both as drawn (see CurveCompare::difference).
  static std::optional<curves::BandCurves> difference(const TraceShot& shot,
                                                      const TraceShot& reference);

  // The average of `shots` as drawn (offsets applied), named `name`, its source naming the
  // traces averaged; *phaseAgreement (when given) says whether averaging their phase meant
  // anything (see CurveAverageResult). No value, with *error, for fewer than two readable
  // traces.
  static std::optional<NewTrace> average(const std::vector<TraceShotRef>& shots,
                                         const std::string& name, std::string* error,
                                         float* phaseAgreement = nullptr);

  // A curve file on `axis`, named `name` (the file's name when empty), its source the
  // file's name. No value, with the line at fault, for a file that cannot be read or has a
  // malformed line: then nothing is to be stored.
  static std::optional<NewTrace> importFile(const std::string& path, const std::string& name,
                                            const curves::BandAxis& axis,
                                            curves::CurveFileError* error);
};

}  // namespace qv
