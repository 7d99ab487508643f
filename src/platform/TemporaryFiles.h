#pragma once
// The temporary files an output is written under before it is renamed into place
// ("NAME.tmp-PID-N" beside the target). A terminating signal (TERM, INT, HUP, PIPE) must
// not leave them behind, and neither may a run that was killed outright: the next one
// writing into the same folder removes what such runs left.
// Any thread. The signal handler only reads a fixed table of paths and calls unlink().
#include <string>

namespace qv {

class TemporaryFiles {
 public:
  // How many temporary files can be open at once and still be removed by a signal; more
  // are written all the same, then only the next run's sweep removes them.
  static constexpr int kTrackedFiles = 16;

  // Creates a new, empty temporary file for `target` in `folder` (the target's folder),
  // 0666 before the umask, so the finished file gets the mode any new file of the user
  // would. First removes the leftovers of ended processes in that folder and, once per
  // process, installs the signal handlers. Returns the descriptor, or -1 with errno set.
  static int create(const std::string& folder, const std::string& targetName,
                    std::string* tempPath);
  // After the file was renamed into place or removed: no signal will touch the name.
  static void forget(const std::string& tempPath);
  // Unlinks an unfinished temporary file and forgets it.
  static void discard(const std::string& tempPath);

  // Removes the files named "*.tmp-PID-N" in `folder` that belong to this user and whose
  // process no longer exists; a name whose process runs (or may run: another user's, or
  // this process) is left. Returns how many were removed.
  static int removeLeftovers(const std::string& folder);

  // For signals whose action is still the default: remove the tracked temporary files,
  // then end the process by the same signal, as the default would have. Signals that are
  // ignored or handled elsewhere are left alone. Idempotent.
  static void installSignalHandlers();
};

}  // namespace qv
