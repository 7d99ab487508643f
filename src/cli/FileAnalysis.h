#pragma once
// Analysis of audio files in simulated time: recorder-style blocks every 125 ms (two per
// 125 ms above 122.88 kHz, so that no block exceeds 15360 frames), display ticks 30 times
// a second and delay-finder ticks 10 times a second, all on a manual clock.
#include "cli/Options.h"
#include "export/AnalysisResult.h"

namespace qv::cli {

class AudioFileSource;

// Runs the whole file through the chain; throws CliError for problems with the file.
AnalysisResult analyseFile(AudioFileSource& source, const Options& options,
                           const std::string& sourceName);

}  // namespace qv::cli
