#pragma once
// quorvex-analyze as a child process that the test can send signals to while it runs,
// optionally started with one signal ignored, as nohup would.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "cli/TestFiles.h"

namespace qv::cli {

class ChildProgram {
 public:
  ChildProgram(const TempDir& dir, const std::vector<std::string>& args, int ignoredSignal = 0) {
    std::vector<std::string> argv{QV_ANALYZE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ != 0) return;
    // Only async-signal-safe calls until exec.
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    if (ignoredSignal) ::signal(ignoredSignal, SIG_IGN);
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::chdir(dir.root().c_str()) != 0) ::_exit(120);
    ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
    ::execv(cargv[0], cargv.data());
    ::_exit(121);
  }
  ~ChildProgram() {
    if (!reaped_) ::kill(pid_, SIGKILL), wait();
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int s) const { ::kill(pid_, s); }
  // The raw wait status.
  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// The names in `folder` that hold `part`.
inline std::vector<std::string> namesWith(const std::string& folder, const std::string& part) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos) names.push_back(name);
  }
  return names;
}

// Waits until `count` names in `folder` hold `part`; bounded, so that a broken program
// fails the test instead of hanging it.
inline bool waitForNames(const std::string& folder, const std::string& part, std::size_t count) {
  return test::waitUntil([&] { return namesWith(folder, part).size() >= count; }, 60);
}

// A command prefix for runAnalyze that runs the program as "nobody" when the test runs
// as root, so that a program that would replace /dev/null or /dev/stdout fails for want
// of permission instead of doing it.
inline std::string asOrdinaryUser(const TempDir& dir) {
  if (::geteuid() != 0) return "";
  std::filesystem::permissions(dir.root(), std::filesystem::perms::all);
  return "HOME=" + quoted(dir.root()) + " XDG_CACHE_HOME=" + quoted(dir.path(".cache")) +
         " setpriv --reuid=65534 --regid=65534 --clear-groups";
}

}  // namespace qv::cli
