#include "traces/TraceWorkbench.h"

#include "curves/CurveAverage.h"
#include "curves/CurveCompare.h"
#include "curves/CurveFile.h"
#include "curves/CurveImport.h"

namespace qv {

std::optional<curves::BandCurves> TraceWorkbench::curvesOf(const TraceShot& shot) {
  if (!shot.magnitudeData || !shot.phaseData || !shot.coherenceData) return std::nullopt;
  const std::size_t bytes = shot.magnitudeData->size();
  if (bytes % 4 != 0 || shot.phaseData->size() != bytes || shot.coherenceData->size() != bytes) {
    return std::nullopt;
  }
  curves::BandCurves c;
  c.magnitude = TraceShot::floatsFromBlob(*shot.magnitudeData);
  c.phase = TraceShot::floatsFromBlob(*shot.phaseData);
  c.coherence = TraceShot::floatsFromBlob(*shot.coherenceData);
  return c;
}

std::optional<curves::BandCurves> TraceWorkbench::displayedCurvesOf(const TraceShot& shot) {
  auto c = curvesOf(shot);
  if (c) curves::CurveCompare::applyOffsets(*c, shot.offsetDb, shot.offsetDelayMs);
  return c;
}

std::optional<curves::BandCurves> TraceWorkbench::difference(const TraceShot& shot,
                                                             const TraceShot& reference) {
  const auto a = displayedCurvesOf(shot);
  const auto b = displayedCurvesOf(reference);
  if (!a || !b) return std::nullopt;
  curves::BandCurves out;
  curves::CurveCompare::difference(*a, *b, out);
  return out;
}

std::optional<NewTrace> TraceWorkbench::average(const std::vector<TraceShotRef>& shots,
                                                const std::string& name, std::string* error,
                                                float* phaseAgreement) {
  std::vector<curves::BandCurves> readable;
  std::string names;
  for (const TraceShotRef& shot : shots) {
    auto c = shot ? displayedCurvesOf(*shot) : std::nullopt;
    if (!c) continue;
    readable.push_back(std::move(*c));
    if (!names.empty()) names += ", ";
    names += shot->name.value_or("Unnamed");
  }
  if (readable.size() < 2) {
    *error = "An average needs at least two traces with curves.";
    return std::nullopt;
  }
  std::vector<const curves::BandCurves*> inputs;
  inputs.reserve(readable.size());
  for (const auto& c : readable) inputs.push_back(&c);
  curves::CurveAverageResult result = curves::CurveAverage::average(inputs);
  if (phaseAgreement) *phaseAgreement = result.phaseAgreement;
  NewTrace trace;
  trace.name = name;
  trace.comment = "Average of " + std::to_string(readable.size()) + " traces";
  trace.curves = std::move(result.curves);
  trace.source = "Average of " + names;
  return trace;
}

std::optional<NewTrace> TraceWorkbench::importFile(const std::string& path, const std::string& name,
                                                   const curves::BandAxis& axis,
                                                   curves::CurveFileError* error) {
  NewTrace trace;
  if (!curves::CurveImport::fromFile(path, axis, &trace.curves, error)) return std::nullopt;
  const std::string file = curves::CurveFile::fileName(path);
  trace.name = name.empty() ? file : name;
  trace.comment = "Imported from " + file;
  trace.source = file;
  return trace;
}

}  // namespace qv
