#include "cli/Commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "cli/AudioFileSource.h"
#include "cli/CliError.h"
#include "cli/CurveOptions.h"
#include "cli/FileAnalysis.h"
#include "cli/LiveAnalysis.h"
#include "cli/OutputPaths.h"
#include "cli/OutputSet.h"
#include "cli/TraceCommands.h"
#include "export/ResultWriters.h"
#include "export/SvgPlot.h"
#include "traces/TraceManager.h"

namespace qv::cli {
namespace {

// Stored as the live program captures a trace: magnitude, phase and coherence × 180, with
// the same comment and the calibration's name.
void saveTrace(const AnalysisResult& result, const std::string& name) {
  const size_t n = result.frequency.size();
  NewTrace trace;
  trace.name = name;
  trace.curves.magnitude = result.magnitude;
  trace.curves.phase = result.phase;
  trace.curves.coherence.resize(n);
  for (size_t b = 0; b < n; ++b) trace.curves.coherence[b] = result.coherence[b] * 180.0f;
  trace.calibration = result.micCalibration;
  char comment[160];
  std::snprintf(comment, sizeof comment, "Smoothing: 1/%ld oct, averaging: %f, delay: %2.2f ms",
                result.smoothing, static_cast<double>(result.averaging),
                static_cast<double>(result.delaySetMs));
  trace.comment = comment;
  // A desktop program capturing at the same moment holds the database for milliseconds;
  // a run that cannot store its trace in this time says so instead of leaving it pending.
  const CaptureOutcome outcome =
      TraceManager::shared().addTraceWaiting(trace, std::chrono::seconds(10));
  if (!outcome.shot)
    throw CliError("the trace '" + name + "' could not be stored: " + outcome.error);
}

// "curves-0012.500s.csv": sorted by name, they are in time order.
std::string snapshotPath(const std::string& dir, double seconds) {
  char name[48];
  std::snprintf(name, sizeof name, "curves-%08.3fs.csv", seconds);
  return (std::filesystem::path(dir) / name).string();
}

void writeOutputs(AnalysisResult result, const Options& options) {
  compareWithTarget(result, options);
  OutputSet outputs;
  outputs.add(options.out.value_or("-"), formatCsv(result));
  if (options.json) outputs.add(*options.json, formatJson(result));
  if (options.svg) outputs.add(*options.svg, renderSvg(result));
  if (options.rta) outputs.add(*options.rta, formatSpectrumCsv(result));
  if (options.timeline) outputs.add(*options.timeline, formatTimelineCsv(result));
  if (options.snapshotEvery) {
    std::error_code ec;
    std::filesystem::create_directory(options.snapshotDir, ec);
    if (ec)
      throw CliError("--snapshot-every: the folder " + options.snapshotDir +
                     " could not be made: " + ec.message());
    for (const CurveSnapshot& s : result.snapshots)
      outputs.add(snapshotPath(options.snapshotDir, s.timeSeconds),
                  formatCurvesCsv(result.frequency, s.magnitude, s.phase, s.coherence));
  }
  outputs.write();
  if (options.saveTrace) saveTrace(result, *options.saveTrace);
}

// A run whose curves came out wholly blank wrote files that look fine and hold nothing: say
// so, while the outputs stay as measured.
void warnIfNothingMeasured(const AnalysisResult& result) {
  // The writers leave a band blank where its magnitude is no finite number.
  if (result.magnitude.empty() || std::any_of(result.magnitude.begin(), result.magnitude.end(),
                                              [](float m) { return std::isfinite(m); }))
    return;
  std::fputs(
      "quorvex-analyze: warning: every band is blank: the outputs hold no measurement; check "
      "that both inputs carry the signal\n",
      stderr);
}

int runFile(const Options& options) {
  std::unique_ptr<AudioFileSource> source;
  std::string name;
  if (!options.input.empty()) {
    source = AudioFileSource::openMultichannel(options.input, options.meas, options.ref);
    name = options.input;
  } else {
    source = AudioFileSource::openPair(options.measFile, options.refFile);
    name = options.measFile + " + " + options.refFile;
  }
  const AnalysisResult result = analyseFile(*source, options, name);
  writeOutputs(result, options);
  warnIfNothingMeasured(result);
  return 0;
}

void reportLostDevice(const LiveOutcome& outcome) {
  const std::string device =
      outcome.lostDevice.empty() ? std::string() : " \u201C" + outcome.lostDevice + "\u201D";
  const std::string why =
      outcome.lostReason.empty() ? std::string() : " (" + outcome.lostReason + ")";
  std::fprintf(stderr,
               "quorvex-analyze: the capture device%s went away after %.1f s%s; the outputs hold "
               "what was measured until then\n",
               device.c_str(), outcome.secondsMeasured, why.c_str());
}

int runLive(const Options& options) {
  const LiveOutcome outcome = analyseLive(options);
  writeOutputs(outcome.result, options);
  warnIfNothingMeasured(outcome.result);
  if (outcome.interrupted) {
    reportLostDevice(outcome);
    return kExitDeviceLost;
  }
  return 0;
}

int runDemo(const Options& given) {
  const Options options = demoOptions(given);
  std::printf("Measuring the virtual sound system for %.0f s with automatic delay...\n",
              options.seconds);
  std::fflush(stdout);
  const LiveOutcome outcome = analyseLive(options);
  writeOutputs(outcome.result, options);
  const AnalysisResult& r = outcome.result;
  std::printf(
      "Delay %s: found %.3f ms, in force %.3f ms, mean coherence %.2f; wrote %s, %s and %s.\n",
      r.delayState.c_str(), r.delayFoundMs.value_or(0.0), r.delaySetMs,
      static_cast<double>(r.meanCoherence.value_or(0.0f)), options.out->c_str(),
      options.json->c_str(), options.svg->c_str());
  if (!outcome.interrupted) return 0;
  reportLostDevice(outcome);
  return kExitDeviceLost;
}

}  // namespace

int runCommand(const Options& options) {
  checkOutputPaths(options);
  checkCurveFiles(options);
  switch (options.command) {
    case Command::Help:
      std::fputs(usageText(), stdout);
      return 0;
    case Command::Version:
      std::printf("quorvex-analyze %s\n", QV_VERSION);
      return 0;
    case Command::File:
      return runFile(options);
    case Command::Live:
      return runLive(options);
    case Command::Devices:
      return listDevices();
    case Command::Demo:
      return runDemo(options);
    case Command::TracesList:
      return listTraces();
    case Command::TracesExport:
      return exportTrace(options);
    case Command::TracesImport:
      return importTrace(options);
    case Command::TracesAverage:
      return averageTraces(options);
  }
  return 1;
}

}  // namespace qv::cli
