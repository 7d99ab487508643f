#include "support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/Log.h"
#include "support/TempFolder.h"

extern char** environ;

namespace qv::test {
namespace {

int childPipe = -1;

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace

bool ChildResult::said(const std::string& text) const {
  for (const auto& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void childSay(const std::string& text) {
  const std::string line = text + "\n";
  if (::write(childPipe, line.data(), line.size()) < 0) _exit(99);
}

ChildResult runInChild(const std::function<int()>& body,
                       const std::function<void(pid_t, const std::string&)>& onLine) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    childPipe = fds[1];
    setLogSink([](const std::string& line) { childSay(line); });
    _exit(body());
  }
  ::close(fds[1]);
  ChildResult result;
  std::string pending;
  char chunk[512];
  for (;;) {
    const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
    if (got <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(got));
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      result.lines.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
      if (onLine) onLine(pid, result.lines.back());
    }
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

ChildResult asOrdinaryUser(const std::function<int()>& body) {
  return runInChild([&] {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      return 90;
    }
    return body();
  });
}

std::string shellQuoted(const std::string& s) {
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

CommandResult runCommand(const std::string& command, const std::string& dir, const std::string& env,
                         int seconds) {
  const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
  const std::string full = "cd " + shellQuoted(dir) + " && timeout -k 5 " +
                           std::to_string(seconds) + " sh -c " + shellQuoted(env + " " + command) +
                           " >" + shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
  CommandResult r;
  r.status = statusOf(std::system(full.c_str()));
  r.out = readFile(out);
  r.err = readFile(err);
  return r;
}

bool onPath(const std::string& program) {
  return std::system(("command -v " + shellQuoted(program) + " >/dev/null 2>&1").c_str()) == 0;
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

namespace {

// The forked child: only async-signal-safe calls until exec.
[[noreturn]] void runChild(pid_t parent, int ignoredSignal, const std::string& log,
                           const std::string& dir, char* const* argv, char* const* envp) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(122);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
  if (ignoredSignal) ::signal(ignoredSignal, SIG_IGN);
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || (!dir.empty() && ::chdir(dir.c_str()) != 0)) ::_exit(120);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(out, 2);
  ::execvpe(argv[0], argv, envp);
  ::_exit(121);
}

}  // namespace

bool Program::start(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::string& log,
                    const std::string& dir, int ignoredSignal) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& [k, v] : env) all[k] = v;
  std::vector<std::string> envStrings, argStrings = args;
  for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) runChild(parent, ignoredSignal, log, dir, argv.data(), envp.data());
  pid_ = pid;
  return true;
}

void Program::signal(int s) const {
  if (pid_ != 0) ::kill(pid_, s);
}

bool Program::running() {
  if (pid_ == 0) return false;
  int status = 0;
  const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
  if (ended == 0 || (ended < 0 && errno == EINTR)) return true;
  exitStatus_ = statusOf(status);
  pid_ = 0;
  return false;
}

int Program::wait(double seconds) {
  if (!waitUntil([this] { return !running(); }, seconds)) return -1;
  return exitStatus_;
}

void Program::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  if (!waitUntil([this] { return !running(); }, 5)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
}

}  // namespace qv::test
