#pragma once
// Parts of a test run in a forked child: it may change limits of its own process, be
// killed, or give up root so that permission bits (and a wrong write to a system path)
// stop it. Its log lines and what it says reach the parent line by line.
#include <sys/types.h>

#include <functional>
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

}  // namespace qv::test
