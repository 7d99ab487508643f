#pragma once
// quorvex-analyze traces: the desktop program's stored traces for a user's scripts, read
// from the same trace database (TraceFolders::dataFolder()). Main thread.
#include "cli/Options.h"

namespace qv::cli {

// One trace a line, newest first: name, capture time and comment, tab-separated.
int listTraces();
// Throws CliError when the name matches no trace, or several and nothing picks one.
int exportTrace(const Options& options);

}  // namespace qv::cli
