#include "cli/Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli/CliError.h"
#include "engine/FractionalOctaveBands.h"

namespace qv::cli {
namespace {

// The smoothing widths the program offers (1/S octave).
constexpr long kSmoothingValues[] = {1, 2, 3, 6, 12, 24, 48, 96};
constexpr double kMaxDelayMs = 3000.0;
// The finder band's limits: what any rate the program takes can carry.
constexpr double kLowestBandHz = 1.0;
constexpr double kHighestBandHz = 96000.0;

double parseNumber(const std::string& option, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value))
    throw CliError(option + ": '" + text + "' is not a number");
  return value;
}

long parseInteger(const std::string& option, const std::string& text) {
  const double value = parseNumber(option, text);
  if (value != std::floor(value) || std::fabs(value) > 1e9)
    throw CliError(option + ": '" + text + "' is not a whole number");
  return static_cast<long>(value);
}

// "LO-HI" in Hz, e.g. 30-120.
std::pair<double, double> parseBand(const std::string& option, const std::string& text) {
  const size_t dash = text.find('-', 1);
  if (dash == std::string::npos)
    throw CliError(option + ": '" + text + "' is not a band LO-HI in Hz (e.g. 30-120)");
  const double lo = parseNumber(option, text.substr(0, dash));
  const double hi = parseNumber(option, text.substr(dash + 1));
  if (lo < kLowestBandHz || hi > kHighestBandHz || !(lo < hi))
    throw CliError(option + " must be LO-HI with 1 <= LO < HI <= 96000 Hz");
  return {lo, hi};
}

Options parseTracesOptions(const std::vector<std::string>& args) {
  Options o;
  if (args.size() < 2) throw CliError("traces needs list, export, import or average");
  const std::string& action = args[1];
  if (action == "list") {
    o.command = Command::TracesList;
    if (args.size() > 2) throw CliError("unexpected argument '" + args[2] + "'");
    return o;
  }
  if (action == "export") {
    o.command = Command::TracesExport;
  } else if (action == "import") {
    o.command = Command::TracesImport;
  } else if (action == "average") {
    o.command = Command::TracesAverage;
  } else {
    throw CliError("unknown traces command '" + action + "' (list, export, import or average)");
  }
  const bool exporting = o.command == Command::TracesExport;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      operands.push_back(a);
      continue;
    }
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw CliError(a + " needs a value");
      return args[++i];
    };
    if (a == "--") {
      optionsEnded = true;  // names that start with "-" follow
    } else if (a == "--format" && exporting) {
      const std::string& f = value();
      if (f == "csv") {
        o.traceFormat = TraceExportFormat::Csv;
      } else if (f == "frd") {
        o.traceFormat = TraceExportFormat::Frd;
      } else if (f == "json") {
        o.traceFormat = TraceExportFormat::Json;
      } else {
        throw CliError("--format must be csv, frd or json");
      }
    } else if (a == "--out" && exporting) {
      o.out = value();
    } else if (a == "--date" && exporting) {
      o.traceDate = value();
    } else if (a == "--newest" && o.command != Command::TracesImport) {
      o.newest = true;
    } else if (a == "--name" && !exporting) {
      o.newName = value();
      if (o.newName->empty()) throw CliError("--name needs a non-empty name");
    } else {
      std::string message = "unknown option " + a;
      message.append(" for traces ").append(action);
      message += " (a name that starts with - goes after --)";
      throw CliError(message);
    }
  }
  switch (o.command) {
    case Command::TracesExport:
      if (operands.empty()) throw CliError("traces export needs the NAME of a trace");
      if (operands.size() > 1)
        throw CliError("unexpected argument '" + operands[1] +
                       "'; a NAME with spaces needs quotes");
      o.traceName = operands[0];
      break;
    case Command::TracesImport:
      if (operands.size() != 1) throw CliError("traces import needs exactly one FILE");
      o.importFile = operands[0];
      break;
    default:  // average
      if (operands.size() < 2)
        throw CliError("traces average needs the NAMEs of two traces or more");
      if (!o.newName) throw CliError("traces average needs --name NAME for the new trace");
      o.traceNames = operands;
      break;
  }
  return o;
}

}  // namespace

const char* usageText() {
  return R"(usage:
  quorvex-analyze file INPUT [--meas N] [--ref N] [analysis] [outputs] [spectrum]
  quorvex-analyze file --meas-file A --ref-file B [analysis] [outputs] [spectrum]
  quorvex-analyze live --input UID [--meas N] [--ref N] [--generator UID] --seconds T
                       [analysis] [outputs] [spectrum]
  quorvex-analyze devices
  quorvex-analyze demo [outputs]
  quorvex-analyze traces list
  quorvex-analyze traces export NAME [--format csv|frd|json] [--newest] [--date DATE]
                                [--out FILE]
  quorvex-analyze traces import FILE [--name NAME]
  quorvex-analyze traces average NAME NAME... --name NAME [--newest]
  quorvex-analyze --version
  quorvex-analyze --help

inputs:
  --meas N                   the channel of the measurement microphone, counted from 0
                             (0)
  --ref N                    the channel of the reference signal, counted from 0 (1)
  --meas-file A --ref-file B the two channels as two mono files

analysis:
  --smoothing S              1/S-octave smoothing, S one of 1 2 3 6 12 24 48 96 (24)
  --averaging K              averaging index 1 (heaviest) to 1000 (none) (100)
  --delay MS                 delay between the channels in ms, -3000 to 3000, applied
                             exactly; positive holds back the reference (0)
  --auto-delay               insert the delay the delay finder measures (once it is sure)
  --track                    follow a delay that moves (a walking source); implies
                             --auto-delay
  --finder-band LO-HI        the band in Hz the delay finder searches, e.g. 30-120 for a
                             subwoofer (default: the whole band, weighted by coherence)
  --coherence-threshold X    blank bands whose coherence is below X, 0 to 1 (0.05)
  --mic-cal FILE             correct the magnitude by the measurement microphone's
                             calibration file (frequency and dB columns, optionally a
                             sensitivity line); its name goes into the JSON and the trace
  --target FILE              a target curve (frequency, level in dB, optionally one
                             tolerance or two, below and above): the JSON states per band
                             how far the measurement lies outside its tolerance band
  --tolerance DB             the tolerance of target points that give none, 0 to 60 (3)
outputs:
  --out FILE                 the curves as CSV (default: standard output)
  --json FILE                a summary of the run
  --svg FILE                 a picture of magnitude, phase with coherence, and impulse
  --save-trace NAME          store the curves as a trace in the trace database
  --timeline FILE            one CSV row per delay finder result: time, state, delay
                             found and inserted, confidence, coherence, drift
  --snapshot-every SECONDS DIR
                             the curves every SECONDS (of audio) as CSV files in DIR
                             (made if missing), named curves-TTTT.TTTs.csv
  A FILE of - is standard output. Regular files are replaced whole, and only once every
  output is complete; a symbolic link is followed and its target replaced; FIFOs and
  devices (/dev/null, /dev/stdout) are written straight.
spectrum (file and live):
  --rta FILE                 the spectrum of both inputs as CSV: the mean level of each
                             fractional-octave band over the run, in dBFS (a full-scale
                             sine reads 0 dB)
  --octave N                 bands per octave of --rta, one of 1 3 6 12 24 48 (3)
  --weighting W              frequency weighting of --rta, A, C or Z (Z: none)
  --group-delay              a group_delay_ms column in the curves' CSV: the system's
                             group delay (the delay in force included), blanked where
                             the coherence is below the threshold

traces (the trace database of Quorvex: $QUORVEX_DATA_DIR, else $XDG_DATA_HOME/Quorvex,
else ~/.local/share/Quorvex):
  list                       one trace a line, newest first: name, capture time and
                             comment, separated by tabs; a trace without a name is
                             "Unnamed"; the time is UTC, ISO 8601 to the microsecond, and
                             no two traces share it
  export NAME                the trace named NAME, to standard output or --out FILE
  --format F                 csv (the columns of the analysis, the default), frd
                             (frequency, dB, degrees; blanked bands left out) or json
  --newest                   of several traces named NAME, take the newest
  --date DATE                of several traces named NAME, take the one whose time, as
                             listed, starts with DATE (e.g. 2026-12-05T15:29)
  A NAME that matches no trace is an error, and so is one that matches several unless
  --newest or --date picks one; the error lists the times of the candidates.
  import FILE                store a curve file as a new trace: frequency and magnitude
                             columns, optionally phase and coherence (by the names in a
                             header line, else in that order); comma, tab or space
                             separated; lines starting with *, # or ; are comments (FRD,
                             CSV and TXT exports of other programs read alike). A file with
                             a malformed line is refused with its line number, and nothing
                             is stored
  --name NAME                the new trace's name (import: the file's name)
  average NAME NAME...       store the average of the named traces as a new trace (each
                             NAME as for export; --newest takes the newest of each name):
                             magnitude averaged in power, phase as the coherence-weighted
                             mean of the traces' phasors, their level and delay offsets
                             applied. Averaging phase means something only for traces
                             measured with the same delay (the same time alignment): with
                             different delays the phases scatter and their mean is
                             meaningless; the command then warns. Align the traces first
                             (the desktop program's offsets), or use the magnitude only.

exit status:
  0  the run finished and its outputs are written (lost audio is counted in the JSON,
     as dropped_frames and xruns, not failed)
  1  a failure: a capture or generator that does not start, no audio at all, an output
     that cannot be written
  2  bad input: a missing, damaged or empty file, a channel or option out of range
  3  the capture device went away during a live run or the demo; the outputs hold what
     was measured until then
)";
}

Options parseOptions(const std::vector<std::string>& args) {
  Options o;
  if (args.empty())
    throw CliError("no command given (file, live, devices, demo or traces); see --help");
  const std::string& cmd = args[0];
  if (cmd == "file") {
    o.command = Command::File;
  } else if (cmd == "live") {
    o.command = Command::Live;
  } else if (cmd == "devices") {
    o.command = Command::Devices;
  } else if (cmd == "demo") {
    o.command = Command::Demo;
  } else if (cmd == "traces") {
    return parseTracesOptions(args);
  } else if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    o.command = Command::Help;
    return o;
  } else if (cmd == "--version") {
    o.command = Command::Version;
    return o;
  } else {
    throw CliError("unknown command '" + cmd + "' (file, live, devices, demo or traces)");
  }

  bool measGiven = false, refGiven = false, secondsGiven = false;
  bool octaveGiven = false, weightingGiven = false;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw CliError(a + " needs a value");
      return args[++i];
    };
    if (a == "--meas") {
      o.meas = static_cast<int>(parseInteger(a, value()));
      measGiven = true;
    } else if (a == "--ref") {
      o.ref = static_cast<int>(parseInteger(a, value()));
      refGiven = true;
    } else if (a == "--meas-file") {
      o.measFile = value();
    } else if (a == "--ref-file") {
      o.refFile = value();
    } else if (a == "--input") {
      o.inputDevice = value();
    } else if (a == "--generator") {
      o.generatorDevice = value();
    } else if (a == "--seconds") {
      o.seconds = parseNumber(a, value());
      secondsGiven = true;
      if (o.seconds <= 0 || o.seconds > 24 * 3600)
        throw CliError("--seconds must lie between 0 and 86400");
    } else if (a == "--smoothing") {
      o.smoothing = parseInteger(a, value());
      if (std::find(std::begin(kSmoothingValues), std::end(kSmoothingValues), o.smoothing) ==
          std::end(kSmoothingValues))
        throw CliError("--smoothing must be one of 1 2 3 6 12 24 48 96");
    } else if (a == "--averaging") {
      const long k = parseInteger(a, value());
      if (k < 1 || k > 1000) throw CliError("--averaging must lie between 1 and 1000");
      o.averaging = static_cast<int>(k);
    } else if (a == "--delay") {
      const double d = parseNumber(a, value());
      if (std::fabs(d) > kMaxDelayMs) throw CliError("--delay must lie between -3000 and 3000 ms");
      o.delayMs = d;
    } else if (a == "--auto-delay") {
      o.autoDelay = true;
    } else if (a == "--track") {
      o.track = true;
      o.autoDelay = true;
    } else if (a == "--finder-band") {
      o.finderBand = parseBand(a, value());
    } else if (a == "--timeline") {
      o.timeline = value();
    } else if (a == "--snapshot-every") {
      const double seconds = parseNumber(a, value());
      if (!(seconds >= 0.1) || seconds > 24 * 3600)
        throw CliError("--snapshot-every must lie between 0.1 and 86400 seconds");
      o.snapshotEvery = seconds;
      o.snapshotDir = value();
      if (o.snapshotDir.empty()) throw CliError("--snapshot-every needs a folder");
    } else if (a == "--coherence-threshold") {
      const double x = parseNumber(a, value());
      if (x < 0 || x > 1) throw CliError("--coherence-threshold must lie between 0 and 1");
      o.coherenceThreshold = static_cast<float>(x);
    } else if (a == "--mic-cal") {
      o.micCalibration = value();
    } else if (a == "--target") {
      o.target = value();
    } else if (a == "--tolerance") {
      o.targetTolerance = parseNumber(a, value());
      if (o.targetTolerance < 0 || o.targetTolerance > 60)
        throw CliError("--tolerance must lie between 0 and 60 dB");
    } else if (a == "--out") {
      o.out = value();
    } else if (a == "--json") {
      o.json = value();
    } else if (a == "--svg") {
      o.svg = value();
    } else if (a == "--save-trace") {
      o.saveTrace = value();
      if (o.saveTrace->empty()) throw CliError("--save-trace needs a non-empty name");
    } else if (a == "--rta") {
      o.rta = value();
    } else if (a == "--octave") {
      const long n = parseInteger(a, value());
      if (n > 48 || !FractionalOctaveBands::isSupported(static_cast<int32_t>(n)))
        throw CliError("--octave must be one of 1 3 6 12 24 48");
      o.octave = static_cast<int>(n);
      octaveGiven = true;
    } else if (a == "--weighting") {
      const auto w = FrequencyWeighting::fromName(value());
      if (!w) throw CliError("--weighting must be A, C or Z");
      o.weighting = *w;
      weightingGiven = true;
    } else if (a == "--group-delay") {
      o.groupDelay = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw CliError("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }

  if ((octaveGiven || weightingGiven) && !o.rta)
    throw CliError(std::string(octaveGiven ? "--octave" : "--weighting") + " goes with --rta");
  if ((o.rta || o.groupDelay) && o.command != Command::File && o.command != Command::Live)
    throw CliError("--rta and --group-delay apply to file and live");

  if (measGiven || refGiven) {
    if (o.meas < 0 || o.ref < 0) throw CliError("channel indices start at 0");
    if (o.meas == o.ref) throw CliError("--meas and --ref name the same channel");
  }

  switch (o.command) {
    case Command::File: {
      const bool twoFiles = !o.measFile.empty() || !o.refFile.empty();
      if (twoFiles) {
        if (o.measFile.empty() || o.refFile.empty())
          throw CliError("--meas-file and --ref-file go together");
        if (!positional.empty()) throw CliError("give either INPUT or --meas-file and --ref-file");
        if (measGiven || refGiven)
          throw CliError("--meas and --ref apply to one multichannel INPUT");
      } else {
        if (positional.size() != 1) throw CliError("file needs exactly one INPUT");
        o.input = positional[0];
      }
      break;
    }
    case Command::Live:
      if (!positional.empty()) throw CliError("unexpected argument '" + positional[0] + "'");
      if (o.inputDevice.empty()) throw CliError("live needs --input UID");
      if (!secondsGiven) throw CliError("live needs --seconds T");
      break;
    case Command::Devices:
    case Command::Demo:
      if (!positional.empty()) throw CliError("unexpected argument '" + positional[0] + "'");
      break;
    case Command::TracesList:
    case Command::TracesExport:
    case Command::TracesImport:
    case Command::TracesAverage:
    case Command::Help:
    case Command::Version:
      break;
  }
  return o;
}

}  // namespace qv::cli
