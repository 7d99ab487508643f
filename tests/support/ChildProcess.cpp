#include "support/ChildProcess.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Log.h"

namespace qv::test {
namespace {

int childPipe = -1;

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

}  // namespace qv::test
