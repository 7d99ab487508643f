#pragma once
// Programs run to completion through the shell, as a user types them, with what they wrote
// collected; and polling with a bound, so that a broken program fails a test instead of
// hanging it. Test thread only.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "support/TempFolder.h"

namespace qv::test {

inline std::string shellQuoted(const std::string& s) {
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

struct CommandResult {
  int status = -1;  // 128 + the signal for a program that a signal ended
  std::string out, err;
};

// Runs `line` in `dir` with no input; its output passes through stdout.txt and stderr.txt
// there.
inline CommandResult runShell(const std::string& line, const std::string& dir) {
  const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
  const std::string full = "cd " + shellQuoted(dir) + " && " + line + " >" + shellQuoted(out) +
                           " 2>" + shellQuoted(err) + " </dev/null";
  CommandResult r;
  const int raw = std::system(full.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.out = readFile(out);
  r.err = readFile(err);
  return r;
}

inline bool onPath(const std::string& program) {
  return std::system(("command -v " + shellQuoted(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// Polls until done() or the time is up.
inline bool waitUntil(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace qv::test
