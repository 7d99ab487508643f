#pragma once
// quorvex-analyze as a child process of the test, for what std::system cannot do: send it
// signals while it runs, run it as an ordinary user (a test running as root drops to
// "nobody", so that a program that would replace /dev/null fails instead of doing it), or
// start it with a signal ignored as nohup would.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli/RunProgram.h"
#include "cli/TestFiles.h"

namespace qv::cli {

struct ChildOptions {
  bool asOrdinaryUser = false;
  int ignoredSignal = 0;                 // e.g. SIGHUP, ignored from the start as under nohup
  std::vector<std::string> environment;  // "NAME=value", replacing the test's own
};

class ChildProgram {
 public:
  static constexpr uid_t kNobody = 65534;

  ChildProgram(const TempDir& dir, const std::vector<std::string>& args,
               const ChildOptions& options = {})
      : dir_(dir) {
    if (options.asOrdinaryUser && ::geteuid() == 0) {
      // The child must still reach its folder and write into it.
      std::filesystem::permissions(dir.root(), std::filesystem::perms::all);
    }
    std::vector<std::string> argv{QV_ANALYZE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = options.environment;
    if (options.asOrdinaryUser) {  // the test's caches are root's
      env.push_back("HOME=" + dir.root());
      env.push_back("XDG_CACHE_HOME=" + dir.path(".cache"));
    }
    const auto given = [&](const std::string& entry) {
      for (const std::string& e : env) {
        if (e.compare(0, e.find('=') + 1, entry, 0, entry.find('=') + 1) == 0) return true;
      }
      return false;
    };
    for (char** e = environ; *e; ++e) {
      if (!given(*e)) env.emplace_back(*e);
    }
    std::vector<char*> cenv;
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const std::string out = dir.path("stdout.txt"), err = dir.path("stderr.txt");

    pid_ = ::fork();
    if (pid_ != 0) return;
    // Child: only async-signal-safe calls until exec.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    if (options.ignoredSignal) ::signal(options.ignoredSignal, SIG_IGN);
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0)
      ::_exit(120);
    if (::chdir(dir.root().c_str()) != 0) ::_exit(121);
    if (options.asOrdinaryUser && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        ::_exit(122);
    }
    ::execve(cargv[0], cargv.data(), cenv.data());
    ::_exit(123);
  }
  ~ChildProgram() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  pid_t pid() const { return pid_; }
  // Ended (without reaping it, so wait() still sees how).
  bool ended() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_;
  }
  void signal(int s) const { ::kill(pid_, s); }

  // The raw wait status.
  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }
  std::string out() const { return readWholeFile(dir_.path("stdout.txt")); }
  std::string err() const { return readWholeFile(dir_.path("stderr.txt")); }

 private:
  const TempDir& dir_;
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

// Waits (bounded, so a broken program fails the test instead of hanging it) until
// `count` names in `folder` hold `part`.
inline bool waitForNames(const std::string& folder, const std::string& part, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (namesWith(folder, part).size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// What a writer writes into the FIFO at `path` until it closes it, or until
// `writerEnded()` says it ended without ever opening it (where a plain read would wait for
// a writer forever).
inline std::string readFifo(const std::string& path, const std::function<bool()>& writerEnded) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 20);
    char buffer[4096];
    const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? ::read(fd, buffer, sizeof buffer) : -1;
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (n < 0 && writerEnded())) {
      break;  // the writer closed it, or ended without opening it
    }
  }
  ::close(fd);
  return text;
}

}  // namespace qv::cli
