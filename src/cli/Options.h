#pragma once
// Command-line options of quorvex-analyze, parsed and range-checked in one place.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/FrequencyWeighting.h"
#include "export/TraceExporter.h"

namespace qv::cli {

enum class Command {
  File,
  Live,
  Devices,
  Demo,
  TracesList,
  TracesExport,
  TracesImport,
  TracesAverage,
  Help,
  Version
};

struct Options {
  Command command = Command::Help;

  // file
  std::string input;              // one multichannel file …
  std::string measFile, refFile;  // … or two mono files
  int meas = 0;                   // channel indices into the input (file or device)
  int ref = 1;

  // live
  std::string inputDevice;
  std::optional<std::string> generatorDevice;
  double seconds = 0;

  // analysis
  long smoothing = 24;
  int averaging = 100;
  double delayMs = 0;
  bool autoDelay = false;
  bool track = false;  // also sets autoDelay
  // The band the delay finder searches (Hz), when one is given.
  std::optional<std::pair<double, double>> finderBand;
  float coherenceThreshold = 0.05f;
  std::optional<std::string> micCalibration;  // a calibration file
  std::optional<std::string> target;          // a target curve file
  double targetTolerance = 3.0;               // dB, for target points without their own

  // outputs
  std::optional<std::string> out, json, svg, saveTrace, timeline;
  // Curves along the way: every snapshotEvery seconds, a CSV into snapshotDir.
  std::optional<double> snapshotEvery;
  std::string snapshotDir;

  // spectrum outputs (file and live)
  std::optional<std::string> rta;  // the band levels of both inputs as CSV
  int octave = 3;                  // bands per octave of the RTA
  Weighting weighting = Weighting::Z;
  bool groupDelay = false;  // a group-delay column in the curves' CSV

  // traces export, import and average
  std::string traceName;                // export
  std::string importFile;               // import
  std::vector<std::string> traceNames;  // average
  std::optional<std::string> newName;   // import, average: the new trace's name
  TraceExportFormat traceFormat = TraceExportFormat::Csv;
  std::optional<std::string> traceDate;  // a prefix of the listed capture time
  bool newest = false;                   // export, average
};

// Throws CliError naming the problem.
Options parseOptions(const std::vector<std::string>& args);

const char* usageText();

}  // namespace qv::cli
