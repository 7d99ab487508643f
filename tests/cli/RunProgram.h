#pragma once
// Runs quorvex-analyze as a user would and collects its exit status and output.
#include <string>
#include <vector>

#include "cli/TestFiles.h"
#include "support/Command.h"

namespace qv::cli {

using ProgramRun = test::CommandResult;
using test::readFile;
inline std::string quoted(const std::string& s) { return test::shellQuoted(s); }

// `env` is a command prefix: NAME=value words, or a program such as setpriv.
inline ProgramRun runAnalyze(const TempDir& dir, const std::vector<std::string>& args,
                             const std::string& env = "") {
  std::string line = env + " " + quoted(QV_ANALYZE_PATH);
  for (const auto& a : args) line += " " + quoted(a);
  return test::runShell(line, dir.root());
}

}  // namespace qv::cli
