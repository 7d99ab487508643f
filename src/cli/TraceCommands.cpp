#include "cli/TraceCommands.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliError.h"
#include "cli/OutputSet.h"
#include "export/TraceExporter.h"
#include "traces/TraceDatabase.h"
#include "traces/TraceFolders.h"
#include "traces/TraceManager.h"

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
  std::vector<TraceShotRef> named;
  if (store) {
    for (const TraceShotRef& shot : newestFirst(store->allTraceShots())) {
      if (listedName(*shot) == name) named.push_back(shot);
    }
  }
  if (named.empty()) throw CliError("no trace is named '" + name + "' (see traces list)");

  std::vector<TraceShotRef> picked;
  for (const TraceShotRef& shot : named) {
    if (!options.traceDate || listedTime(*shot).rfind(*options.traceDate, 0) == 0) {
      picked.push_back(shot);
    }
  }
  if (picked.empty()) {
    throw CliError("no trace named '" + name + "' was captured at " + *options.traceDate +
                   "; its traces were captured " + timesOf(named));
  }
  if (options.newest) picked.resize(1);  // newest first, whatever order the panel shows
  if (picked.size() > 1) {
    throw CliError(std::to_string(picked.size()) + " traces are named '" + name + "', captured " +
                   timesOf(picked) + "; --newest or --date DATE picks one");
  }

  std::string text, error;
  if (!TraceExporter::formatShot(*picked.front(), options.traceFormat, &text, &error)) {
    throw CliError("the trace '" + name + "' captured " + listedTime(*picked.front()) +
                   " cannot be exported: " + error);
  }
  OutputSet out;
  out.add(options.out.value_or("-"), std::move(text));
  out.write();
  return 0;
}

}  // namespace qv::cli
