#include "cli/TraceCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliError.h"
#include "cli/OutputSet.h"
#include "curves/BandAxis.h"
#include "curves/CurveAverage.h"
#include "engine/AnalysisConstants.h"
#include "export/TraceExporter.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceFolders.h"
#include "traces/TraceManager.h"
#include "traces/TraceWorkbench.h"

namespace qv::cli {
namespace {

// As the trace panel shows it.
std::string listedName(const TraceShot& shot) { return shot.name.value_or("Unnamed"); }

std::string listedTime(const TraceShot& shot) {
  return shot.dateCreated ? TraceExporter::isoDescription(*shot.dateCreated) : std::string();
}

// A name or comment may hold tabs and line breaks; one trace must stay one line.
std::string oneField(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// The desktop program's store; none when nothing was ever stored there, so that looking
// creates no database.
std::unique_ptr<TraceManager> openStore() {
  const std::string folder = TraceFolders::dataFolder();
  if (!TraceFolders::exists(folder + "/" + TraceDatabase::kFileName)) return nullptr;
  return std::make_unique<TraceManager>(folder);
}

// Newest first by the time of capture: the store's own order is the one the user arranged
// in the panel.
std::vector<TraceShotRef> newestFirst(const TraceShotResults& results) {
  std::vector<TraceShotRef> shots(results.begin(), results.end());
  std::stable_sort(shots.begin(), shots.end(), [](const TraceShotRef& a, const TraceShotRef& b) {
    return a->dateCreated.value_or(TraceDate{}) > b->dateCreated.value_or(TraceDate{});
  });
  return shots;
}

std::string timesOf(const std::vector<TraceShotRef>& shots) {
  std::string text;
  for (const TraceShotRef& shot : shots) {
    if (!text.empty()) text += ", ";
    text += listedTime(*shot);
  }
  return text;
}

// The one trace called `name` (by the date prefix or --newest among several).
TraceShotRef pickTrace(const TraceManager* store, const std::string& name,
                       const std::optional<std::string>& date, bool newest) {
  std::vector<TraceShotRef> named;
  if (store) {
    for (const TraceShotRef& shot : newestFirst(store->allTraceShots())) {
      if (listedName(*shot) == name) named.push_back(shot);
    }
  }
  if (named.empty()) throw CliError("no trace is named '" + name + "' (see traces list)");

  std::vector<TraceShotRef> picked;
  for (const TraceShotRef& shot : named) {
    if (!date || listedTime(*shot).rfind(*date, 0) == 0) picked.push_back(shot);
  }
  if (picked.empty()) {
    throw CliError("no trace named '" + name + "' was captured at " + *date +
                   "; its traces were captured " + timesOf(named));
  }
  if (newest) picked.resize(1);  // newest first, whatever order the panel shows
  if (picked.size() > 1) {
    throw CliError(std::to_string(picked.size()) + " traces are named '" + name + "', captured " +
                   timesOf(picked) + "; --newest or --date DATE picks one");
  }
  return picked.front();
}

void store(TraceManager& traces, const NewTrace& trace) {
  // As --save-trace: a desktop program writing at the same moment is waited for briefly.
  const CaptureOutcome outcome = traces.addTraceWaiting(trace, std::chrono::seconds(10));
  if (!outcome.shot) {
    throw CliError("the trace '" + trace.name + "' could not be stored: " + outcome.error);
  }
}

}  // namespace

int listTraces() {
  const auto store = openStore();
  std::string text;
  if (store) {
    for (const TraceShotRef& shot : newestFirst(store->allTraceShots())) {
      text += oneField(listedName(*shot)) + '\t' + listedTime(*shot) + '\t' +
              oneField(shot->comment.value_or(std::string())) + '\n';
    }
  }
  OutputSet out;
  out.add("-", std::move(text));
  out.write();
  return 0;
}

int exportTrace(const Options& options) {
  const auto store = openStore();
  const std::string& name = options.traceName;
  const TraceShotRef picked = pickTrace(store.get(), name, options.traceDate, options.newest);
  std::string text, error;
  if (!TraceExporter::formatShot(*picked, options.traceFormat, &text, &error)) {
    throw CliError("the trace '" + name + "' captured " + listedTime(*picked) +
                   " cannot be exported: " + error);
  }
  OutputSet out;
  out.add(options.out.value_or("-"), std::move(text));
  out.write();
  return 0;
}

int importTrace(const Options& options) {
  // On the bands of the desktop program's analysis, where its traces are drawn.
  const curves::BandAxis axis = curves::BandAxis::forSampleRate(kAnalysisSampleRate);
  curves::CurveFileError error;
  const auto trace =
      TraceWorkbench::importFile(options.importFile, options.newName.value_or(""), axis, &error);
  if (!trace) {
    throw CliError(error.line ? options.importFile + ": " + error.text() + " Nothing was stored."
                              : error.text());
  }
  store(TraceManager::shared(), *trace);
  return 0;
}

int averageTraces(const Options& options) {
  const auto traces = openStore();
  std::vector<TraceShotRef> shots;
  for (const std::string& name : options.traceNames)
    shots.push_back(pickTrace(traces.get(), name, std::nullopt, options.newest));
  std::string error;
  float agreement = 0.0f;
  const auto average = TraceWorkbench::average(shots, *options.newName, &error, &agreement);
  if (!average) throw CliError(error);
  store(*traces, *average);
  if (agreement < curves::CurveAverage::kLowPhaseAgreement) {
    std::fprintf(stderr,
                 "quorvex-analyze: warning: the traces' phases agree poorly (%.2f of 1): they "
                 "were probably measured with different delays, and the averaged phase means "
                 "little. Align them first (the desktop program's offsets), or use the "
                 "averaged magnitude only.\n",
                 static_cast<double>(agreement));
  }
  return 0;
}

}  // namespace qv::cli
