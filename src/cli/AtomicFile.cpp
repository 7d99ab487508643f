#include "cli/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "cli/CliError.h"

namespace qv::cli {
namespace {

// A new file beside `path`, created 0666 so that the user's umask decides its mode as it
// would for any file the user makes (mkstemp would make it private).
int createTemporary(const std::string& path, std::string* temp) {
  std::random_device seed;
  std::mt19937 gen(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(gen() % 1000000);
    const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::string& contents) {
  std::string temp;
  const int fd = createTemporary(path, &temp);
  if (fd < 0) throw CliError(path + ": cannot write: " + std::strerror(errno));
  const char* p = contents.data();
  size_t left = contents.size();
  int error = 0;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (!error && fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    std::remove(temp.c_str());
    throw CliError(path + ": cannot write: " + std::strerror(error));
  }
}

}  // namespace qv::cli
