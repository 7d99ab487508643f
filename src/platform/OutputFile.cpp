#include "platform/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/TemporaryFiles.h"

namespace qv {
namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole text into `fd`; a descriptor left non-blocking by whoever shares it waits
// until it takes more.
bool writeAll(int fd, const std::string& contents, int* error) {
  const char* p = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd waiting{fd, POLLOUT, 0};
        ::poll(&waiting, 1, -1);
        continue;
      }
      *error = errno;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// The number after `prefix` when `path` is exactly prefix + digits, else -1.
int numberAfter(const std::string& path, const std::string& prefix) {
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return -1;
  int n = 0;
  for (size_t i = prefix.size(); i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9' || n > 100000) return -1;
    n = n * 10 + (path[i] - '0');
  }
  return n;
}

}  // namespace

int OutputFile::standardDescriptor(const std::string& path) {
  if (path == "-" || path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  // The kernel's links for open descriptors name pipes and sockets by something that is
  // no path ("pipe:[1234]") and reopen a regular file at offset 0 instead of where the
  // shell left it (after `>>`): the descriptor itself is what the user means.
  for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                    "/proc/" + std::to_string(::getpid()) + "/fd/"}) {
    const int fd = numberAfter(path, prefix);
    if (fd >= 0) return fd;
  }
  return -1;
}

OutputFile::OutputFile(std::string path, bool waitForReader)
    : path_(std::move(path)), waitForReader_(waitForReader) {
  resolve();
}

OutputFile::~OutputFile() {
  if (!tempPath_.empty()) TemporaryFiles::discard(tempPath_);
}

bool OutputFile::fail(const std::string& reason) {
  failed_ = true;
  error_ = path_ + ": cannot write: " + reason;
  if (!tempPath_.empty()) TemporaryFiles::discard(tempPath_);
  tempPath_.clear();
  return false;
}

bool OutputFile::failWithErrno(int error) { return fail(std::strerror(error)); }

void OutputFile::resolve() {
  if (path_.empty()) {
    fail("no file name");
    return;
  }
  std::string current = path_;
  for (int links = 0; links <= kMaxLinks; ++links) {
    const int fd = standardDescriptor(current);
    if (fd >= 0) {
      if (::fcntl(fd, F_GETFD) < 0) {
        fail("descriptor " + std::to_string(fd) + " is not open");
        return;
      }
      descriptor_ = fd;
      kind_ = Kind::Stream;
      return;
    }
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        failWithErrno(errno);
        return;
      }
      target_ = current;  // a new file (its folder is checked when it is created)
      kind_ = Kind::Replace;
      return;
    }
    if (S_ISLNK(st.st_mode)) {
      // Some links report no size (those under /proc): PATH_MAX holds any path.
      std::vector<char> buffer(PATH_MAX);
      const ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size());
      if (n < 0 || n == static_cast<ssize_t>(buffer.size())) {
        failWithErrno(n < 0 ? errno : ENAMETOOLONG);
        return;
      }
      const std::string link(buffer.data(), static_cast<size_t>(n));
      if (link.front() == '/') {
        current = link;
      } else {
        current = folderOf(current);
        current += '/';
        current += link;
      }
      continue;
    }
    target_ = current;
    if (S_ISREG(st.st_mode)) {
      kind_ = Kind::Replace;
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
      kind_ = Kind::Stream;
    } else if (S_ISDIR(st.st_mode)) {
      fail("it is a folder");
    } else {
      fail("it is neither a regular file, a FIFO nor a character device");
    }
    return;
  }
  failWithErrno(ELOOP);
}

bool OutputFile::write(const std::string& contents) {
  if (failed_) return false;
  if (written_) return fail("written twice");
  written_ = true;
  return kind_ == Kind::Stream ? writeStream(contents) : writeReplacement(contents);
}

bool OutputFile::writeStream(const std::string& contents) {
  int error = 0;
  if (descriptor_ >= 0) {
    // Whatever the program printed through stdio comes first.
    if (descriptor_ == 1) std::fflush(stdout);
    if (descriptor_ == 2) std::fflush(stderr);
    if (!writeAll(descriptor_, contents, &error)) {
      return failWithErrno(error);
    }
    return true;
  }
  const int flags = O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
  const int fd = ::open(target_.c_str(), waitForReader_ ? flags : flags | O_NONBLOCK);
  if (fd < 0) {
    const int openError = errno;
    if (openError == ENXIO) return fail("no program reads from it");
    return failWithErrno(openError);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    // Replaced by something else since it was looked at: never write into the middle of
    // a regular file.
    ::close(fd);
    return fail("it changed while it was being written");
  }
  if (!waitForReader_) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const bool ok = writeAll(fd, contents, &error);
  if (::close(fd) != 0 && ok) error = errno;
  if (!ok || error) {
    return failWithErrno(error);
  }
  return true;
}

bool OutputFile::writeReplacement(const std::string& contents) {
  const int fd = TemporaryFiles::create(folderOf(target_), nameOf(target_), &tempPath_);
  if (fd < 0) {
    const int error = errno;
    tempPath_.clear();
    return failWithErrno(error);
  }
  int error = 0;
  writeAll(fd, contents, &error);
  if (!error && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (error) {
    return failWithErrno(error);
  }
  return true;
}

bool OutputFile::commit() {
  if (failed_ || !written_) return false;
  if (kind_ == Kind::Stream) return true;
  if (std::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    return failWithErrno(errno);
  }
  TemporaryFiles::forget(tempPath_);
  tempPath_.clear();
  return true;
}

bool OutputFile::writeWhole(const std::string& path, const std::string& contents,
                            std::string* error, bool waitForReader) {
  OutputFile file(path, waitForReader);
  if (file.write(contents) && file.commit()) return true;
  if (error) *error = file.error();
  return false;
}

}  // namespace qv
