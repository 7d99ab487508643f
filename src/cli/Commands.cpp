#include "cli/Commands.h"

#include <cstdio>
#include <iostream>

#include "cli/AtomicFile.h"
#include "cli/AudioFileSource.h"
#include "cli/CliError.h"
#include "cli/FileAnalysis.h"
#include "cli/ResultWriters.h"
#include "cli/SvgPlot.h"

namespace qv::cli {
namespace {

void writeOutputs(const AnalysisResult& result, const Options& options) {
  const std::string csv = formatCsv(result);
  if (options.out) {
    writeFileAtomically(*options.out, csv);
  } else {
    std::fwrite(csv.data(), 1, csv.size(), stdout);
    std::fflush(stdout);
  }
  if (options.json) writeFileAtomically(*options.json, formatJson(result));
  if (options.svg) writeFileAtomically(*options.svg, renderSvg(result));
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
  return 0;
}

}  // namespace

int runCommand(const Options& options) {
  switch (options.command) {
    case Command::Help:
      std::fputs(usageText(), stdout);
      return 0;
    case Command::File:
      return runFile(options);
    case Command::Live:
    case Command::Devices:
    case Command::Demo:
      throw CliError("this command needs the audio devices, which this build does not have yet");
  }
  return 1;
}

}  // namespace qv::cli
