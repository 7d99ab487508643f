#pragma once
// Runs quorvex-analyze as a user would and collects its exit status and output.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/TestFiles.h"

namespace qv::cli {

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

inline std::string quoted(const std::string& s) {
  std::string q(1, '\'');
  for (char c : s) {
    if (c == '\'') {
      q.append("'\\''");
    } else {
      q.push_back(c);
    }
  }
  q.push_back('\'');
  return q;
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline ProgramRun runAnalyze(const TempDir& dir, const std::vector<std::string>& args,
                             const std::string& env = "") {
  std::string command = "cd " + quoted(dir.root()) + " && " + env + " " + quoted(QV_ANALYZE_PATH);
  for (const auto& a : args) command += " " + quoted(a);
  command += " >" + quoted(dir.path("stdout.txt")) + " 2>" + quoted(dir.path("stderr.txt")) +
             " </dev/null";
  ProgramRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  run.out = readWholeFile(dir.path("stdout.txt"));
  run.err = readWholeFile(dir.path("stderr.txt"));
  return run;
}

}  // namespace qv::cli
