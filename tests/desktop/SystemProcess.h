#pragma once
// Programs that the system tests start: commands run to completion through the shell, and
// servers (PipeWire, a Wayland compositor) spawned with a death signal, so a crashing
// test takes them along, and stopped by their PID. Test thread only.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "support/Command.h"

extern char** environ;

namespace qv::systemtest {

using test::onPath;
using test::readFile;
using test::shellQuoted;
using test::waitUntil;
using ScratchDir = test::TempFolder;
using CommandResult = test::CommandResult;

// Runs a shell command line with `env` (NAME=value words) in `dir`, bounded by `seconds`.
inline CommandResult runCommand(const std::string& command, const std::string& dir,
                                const std::string& env = "", int seconds = 60) {
  return test::runShell(
      "env " + env + " timeout -k 5 " + std::to_string(seconds) + " sh -c " + shellQuoted(command),
      dir);
}

// A program running in the background until stop(); its output goes to a log file.
class Background {
 public:
  Background() = default;
  ~Background() { stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // `env` adds to (or replaces in) this process's environment.
  bool start(std::vector<std::string> args, const std::map<std::string, std::string>& env,
             const std::string& log) {
    args.insert(args.begin(), {"setpriv", "--pdeathsig", "KILL"});
    std::map<std::string, std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      const size_t eq = kv.find('=');
      if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&pid_, "setpriv", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = 0;
    return pid_ != 0;
  }

  bool running() {
    if (pid_ == 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = 0;
    return false;
  }

  // The exit status once the program ended by itself within `seconds`, else -1.
  int wait(double seconds) {
    if (!waitUntil([this] { return !running(); }, seconds)) return -1;
    return exitStatus_;
  }

  void stop() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    if (!waitUntil([this] { return !running(); }, 5)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = 0;
    }
  }

 private:
  pid_t pid_ = 0;
  int exitStatus_ = -1;
};

}  // namespace qv::systemtest
