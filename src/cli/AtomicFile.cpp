#include "cli/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/CliError.h"

namespace qv::cli {

void writeFileAtomically(const std::string& path, const std::string& contents) {
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = mkstemp(temp.data());
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
  // mkstemp makes the file private; outputs are ordinary files.
  if (!error) fchmodat(AT_FDCWD, temp.c_str(), 0644, 0);
  if (!error && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    std::remove(temp.c_str());
    throw CliError(path + ": cannot write: " + std::strerror(error));
  }
}

}  // namespace qv::cli
