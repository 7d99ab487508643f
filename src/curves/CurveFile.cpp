#include "curves/CurveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::curves {

std::string CurveFile::fileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CurveFile::readText(const std::string& path, std::string* text, CurveFileError* error) {
  text->clear();
  auto refuse = [&](const std::string& why) {
    *error = {0, "Cannot read " + path + ": " + why + "."};
    return false;
  };
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse("not a regular file");
  const std::string tooLarge = "larger than " + std::to_string(kMaxBytes >> 20) + " MiB";
  if (static_cast<std::uintmax_t>(st.st_size) > kMaxBytes) return refuse(tooLarge);
  text->reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refuse(std::strerror(errno));
    if (n == 0) break;
    text->append(chunk, static_cast<std::size_t>(n));
    if (text->size() > kMaxBytes) return refuse(tooLarge);  // grew while we read
  }
  return true;
}

}  // namespace qv::curves
