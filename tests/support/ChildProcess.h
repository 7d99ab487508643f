#pragma once
// Everything the tests run beside themselves: a forked part of the test (it may change
// limits of its own process, be killed, or give up root so that permission bits stop it),
// command lines run to completion through the shell, and programs running in the
// background until stopped. Bounded throughout, so that a broken program fails a test
// instead of hanging it. Test thread only.
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qv::test {

struct ChildResult {
  int exitCode = -1;                         // -1 when the child did not exit normally
  std::vector<std::string> lines;            // its log lines and what it said with childSay
  bool said(const std::string& text) const;  // some line holds `text`
};

// Runs `body` in a forked child whose exit code is body's result. `onLine` runs in the
// parent for every line the child sends (it may kill the child).
ChildResult runInChild(const std::function<int()>& body,
                       const std::function<void(pid_t, const std::string&)>& onLine = {});

// The same as a user whom permission bits stop: root writes anywhere (and no read-only
// mount is available to an unprivileged test), so a child of a root test becomes nobody
// first. Folders it must reach belong in /tmp.
ChildResult asOrdinaryUser(const std::function<int()>& body);

// From the child: one line to the parent.
void childSay(const std::string& text);

std::string shellQuoted(const std::string& s);

struct CommandResult {
  int status = -1;  // 128 + the signal for a program that a signal ended
  std::string out, err;
};

// Runs the shell command line `command` in `dir` with no input, `env` (NAME=value words,
// a program such as setpriv, or commands ending in ';') before it, killed after `seconds`. Its
// output passes through stdout.txt and stderr.txt in `dir`.
CommandResult runCommand(const std::string& command, const std::string& dir,
                         const std::string& env = "", int seconds = 300);

bool onPath(const std::string& program);

// Polls until done() or the time is up.
bool waitUntil(const std::function<bool()>& done, double seconds);

// A program running beside the test until stop() (or the test's end: it dies with the
// test's process), with its output in a log file.
class Program {
 public:
  Program() = default;
  ~Program() { stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // `args[0]` is looked up on the PATH; `env` adds to (or replaces in) the test's own;
  // `log` takes standard output and error; `dir` is the working folder (empty: the
  // test's); `ignoredSignal` starts it ignored, as nohup would.
  bool start(const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {},
             const std::string& log = "/dev/null", const std::string& dir = "",
             int ignoredSignal = 0);
  pid_t pid() const { return pid_; }
  void signal(int s) const;
  bool running();
  // The exit status (128 + the signal for a signal) once the program ended within
  // `seconds`, else -1.
  int wait(double seconds = 60);
  void stop();  // TERM, then KILL after 5 s

 private:
  pid_t pid_ = 0;
  int exitStatus_ = -1;
};

}  // namespace qv::test
