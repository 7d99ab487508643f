#include "platform/LineLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qv {
namespace {

// Closes the descriptor, and with it the lock, on every way out.
class OpenLog {
 public:
  explicit OpenLog(int fd) : fd_(fd) {}
  ~OpenLog() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenLog(const OpenLog&) = delete;
  OpenLog& operator=(const OpenLog&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The length of the file up to and including its last newline.
bool lengthOfWholeLines(int fd, off_t size, off_t* length) {
  char chunk[4096];
  off_t end = size;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof chunk) ? end - sizeof chunk : 0;
    const ssize_t n = ::pread(fd, chunk, static_cast<size_t>(end - start), start);
    if (n != end - start) return false;
    for (ssize_t i = n - 1; i >= 0; --i) {
      if (chunk[i] == '\n') {
        *length = start + i + 1;
        return true;
      }
    }
    end = start;
  }
  *length = 0;
  return true;
}

bool writeBytes(int fd, const std::string& bytes, int* error) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    if (n == 0) {
      *error = ENOSPC;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

LineLog::LineLog(std::string path, std::uint64_t rotateBytes)
    : path_(std::move(path)), rotateBytes_(rotateBytes) {}

bool LineLog::append(const std::string& line, std::string* error) {
  const std::string bytes = line + "\n";
  auto failed = [&](const char* what, int code) {
    if (error) *error = path_ + ": " + what + ": " + std::strerror(code);
    return false;
  };
  // Another process may move the file aside between our open and our lock: then the lock
  // is on the old file and we start again with the new one.
  for (int attempt = 0; attempt < 10; ++attempt) {
    OpenLog log(::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (log.fd() < 0) return failed("cannot open", errno);
    while (::flock(log.fd(), LOCK_EX) != 0) {
      if (errno != EINTR) return failed("cannot lock", errno);
    }
    struct stat opened {
    }, named{};
    if (::fstat(log.fd(), &opened) != 0) return failed("cannot read", errno);
    if (::stat(path_.c_str(), &named) != 0 || named.st_ino != opened.st_ino ||
        named.st_dev != opened.st_dev) {
      continue;
    }
    off_t size = opened.st_size;
    // A line torn by an earlier run (killed, or out of space before this code) would
    // swallow the start of ours: cut it off.
    if (size > 0) {
      off_t whole = 0;
      if (!lengthOfWholeLines(log.fd(), size, &whole)) return failed("cannot read", EIO);
      if (whole != size) {
        if (::ftruncate(log.fd(), whole) != 0) return failed("cannot repair", errno);
        size = whole;
      }
    }
    if (size > 0 && static_cast<std::uint64_t>(size) + bytes.size() > rotateBytes_) {
      if (std::rename(path_.c_str(), rotatedPath().c_str()) != 0) {
        return failed("cannot move aside", errno);
      }
      continue;
    }
    int code = 0;
    if (!writeBytes(log.fd(), bytes, &code)) {
      // Whole or not at all: the part that went in comes out again.
      [[maybe_unused]] const int ignored = ::ftruncate(log.fd(), size);
      return failed("cannot write", code);
    }
    return true;
  }
  return failed("cannot write", EAGAIN);
}

}  // namespace qv
