#pragma once
// Refuses outputs that would overwrite a file the run reads, or each other: a recording
// replaced by a CSV is lost for good.
#include "cli/Options.h"

namespace qv::cli {

// Throws CliError naming the option and the file.
void checkOutputPaths(const Options& options);

}  // namespace qv::cli
