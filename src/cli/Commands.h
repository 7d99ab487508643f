#pragma once
// The commands of quorvex-analyze; each returns the exit status.
#include "cli/Options.h"

namespace qv::cli {

int runCommand(const Options& options);

}  // namespace qv::cli
