#pragma once
// quorvex-analyze traces: the desktop program's stored traces for a user's scripts, read
// from and added to the same trace database (TraceFolders::dataFolder()). Main thread.
#include "cli/Options.h"

namespace qv::cli {

// One trace a line, newest first: name, capture time and comment, tab-separated.
int listTraces();
// Throws CliError when the name matches no trace, or several and nothing picks one.
int exportTrace(const Options& options);
// A curve file as a new trace; throws CliError with the line at fault, storing nothing.
int importTrace(const Options& options);
// The average of the named traces as a new trace; warns when their phases disagree.
int averageTraces(const Options& options);

}  // namespace qv::cli
