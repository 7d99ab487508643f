#include "platform/TemporaryFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

namespace qv {
namespace {

constexpr const char* kMarker = ".tmp-";
constexpr int kFree = 0, kFilling = 1, kArmed = 2;

// Plain static storage: the handler may run at any moment, even during static
// destruction, and must find every path complete when its slot says armed.
struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);
Slot gSlots[TemporaryFiles::kTrackedFiles];
std::atomic<unsigned> gCounter{0};

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};

void onTerminatingSignal(int signal) {
  for (Slot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) == kArmed) ::unlink(slot.path);
  }
  // Back to the default action and again: the process ends by this very signal, so its
  // parent sees what it would have seen without us. The signal is blocked while the
  // handler runs, so it arrives the moment the handler returns.
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

void track(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  for (Slot& slot : gSlots) {
    int expected = kFree;
    if (slot.state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      std::memcpy(slot.path, path.c_str(), path.size() + 1);
      slot.state.store(kArmed, std::memory_order_release);
      return;
    }
  }
}

// The PID in "….tmp-PID-N", or 0 when the name is not one of ours.
pid_t ownerOf(const char* name) {
  const char* marker = nullptr;
  for (const char* p = std::strstr(name, kMarker); p; p = std::strstr(p + 1, kMarker)) marker = p;
  if (!marker || marker == name) return 0;
  const char* p = marker + std::strlen(kMarker);
  long pid = 0;
  const char* digits = p;
  while (*p >= '0' && *p <= '9' && pid < 100000000) pid = pid * 10 + (*p++ - '0');
  if (p == digits || *p != '-') return 0;
  const char* counter = ++p;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == counter || *p != '\0') return 0;
  return static_cast<pid_t>(pid);
}

bool processIsGone(pid_t pid) {
  // EPERM means it runs under another user: still there.
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

int TemporaryFiles::create(const std::string& folder, const std::string& targetName,
                           std::string* tempPath) {
  installSignalHandlers();
  removeLeftovers(folder);
  const std::string pid = std::to_string(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix =
        kMarker + pid + "-" + std::to_string(gCounter.fetch_add(1, std::memory_order_relaxed));
    // A target name near the file system's limit keeps its start; the suffix is what the
    // sweep recognises.
    std::string name = targetName;
    if (name.size() + suffix.size() > NAME_MAX) name.resize(NAME_MAX - suffix.size());
    *tempPath = folder.empty() ? std::string(".") : folder;
    *tempPath += '/';
    *tempPath += name;
    *tempPath += suffix;
    // Tracked before it exists, so no signal finds the file without its name.
    track(*tempPath);
    const int fd = ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    forget(*tempPath);
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

void TemporaryFiles::forget(const std::string& tempPath) {
  for (Slot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) == kArmed && tempPath == slot.path) {
      slot.state.store(kFree, std::memory_order_release);
      return;
    }
  }
}

void TemporaryFiles::discard(const std::string& tempPath) {
  ::unlink(tempPath.c_str());
  forget(tempPath);
}

int TemporaryFiles::removeLeftovers(const std::string& folder) {
  const std::string dirPath = folder.empty() ? std::string(".") : folder;
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) return 0;
  const pid_t self = ::getpid();
  const uid_t user = ::geteuid();
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t owner = ownerOf(entry->d_name);
    if (owner <= 0 || owner == self || !processIsGone(owner)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != user) continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

void TemporaryFiles::installSignalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal : kSignals) {
      struct sigaction current = {};
      if (::sigaction(signal, nullptr, &current) != 0) continue;
      const bool isDefault = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
      if (!isDefault) continue;
      struct sigaction action = {};
      action.sa_handler = onTerminatingSignal;
      sigemptyset(&action.sa_mask);
      for (int other : kSignals) sigaddset(&action.sa_mask, other);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

}  // namespace qv
