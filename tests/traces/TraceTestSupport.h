#pragma once
// Helpers for the trace store tests: a private temporary folder, captured log lines,
// curves to capture, and running a piece of the test in a child process.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "traces/TraceFolders.h"
#include "traces/TraceManager.h"

namespace qv::test {

class TempFolder {
 public:
  explicit TempFolder(std::string base = {}) {
    if (base.empty()) {
      const char* env = std::getenv("QUORVEX_TEST_TMP");
      base = env && *env ? env : std::filesystem::temp_directory_path().string();
    }
    std::filesystem::create_directories(base);
    std::string pattern = base + "/traces-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class LogCapture {
 public:
  LogCapture() {
    previous_ = qv::setLogSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { qv::setLogSink(previous_); }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& text) {
    for (const auto& line : lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  qv::LogSink previous_;
};

// Three curves of n points with values that tell them apart: magnitude -i, phase i/10,
// coherence 1/(i+1), shifted by `seed` so that traces differ too.
inline std::vector<float> curves(std::size_t n, float seed = 0.0f) {
  std::vector<float> buffer(3 * n);
  for (std::size_t i = 0; i < n; ++i) {
    buffer[i] = seed - static_cast<float>(i);
    buffer[n + i] = seed + static_cast<float>(i) / 10.0f;
    buffer[2 * n + i] = 1.0f / static_cast<float>(i + 1);
  }
  return buffer;
}

// "t0", "t1", ... (built by appending: g++ 12 warns falsely on "t" + std::to_string(i)).
inline std::string nameOf(int i) {
  std::string name = "t";
  name += std::to_string(i);
  return name;
}

inline TraceShotRef capture(TraceManager& store, const std::string& name, std::size_t n = 8,
                            float seed = 0.0f) {
  const auto buffer = curves(n, seed);
  return store.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
      name, buffer.data(), static_cast<std::int64_t>(n), 3, "comment of " + name);
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Sets (or, with nullptr, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old) saved_ = old;
    had_ = old != nullptr;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_.c_str(), saved_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string saved_;
  bool had_ = false;
};

struct ChildResult {
  int exitCode = -1;               // -1 when the child did not exit normally
  std::vector<std::string> lines;  // its log lines and what it wrote with childSay
};

namespace detail {
inline int& childPipe() {
  static int fd = -1;
  return fd;
}
}  // namespace detail

// From the child: one line to the parent.
inline void childSay(const std::string& text) {
  const std::string line = text + "\n";
  if (::write(detail::childPipe(), line.data(), line.size()) < 0) _exit(99);
}

// Runs `body` in a forked child whose exit code is body's result. `onLine` runs
// in the parent for every line the child sends (it may kill the child).
inline ChildResult runInChild(const std::function<int()>& body,
                              const std::function<void(pid_t, const std::string&)>& onLine = {}) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    detail::childPipe() = fds[1];
    qv::setLogSink([](const std::string& line) { childSay(line); });
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

// Runs `body` in a child as a user whom permission bits stop: root writes anywhere (and no
// read-only mount is available to an unprivileged test), so a child of a root test becomes
// nobody first. Folders it must reach belong in /tmp.
inline ChildResult asOrdinaryUser(const std::function<int()>& body) {
  return runInChild([&] {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 90;
    return body();
  });
}

}  // namespace qv::test
