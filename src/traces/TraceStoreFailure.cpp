#include "traces/TraceStoreFailure.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace qv {
namespace {

constexpr const char* kNotSaved = "The trace was not saved: ";

bool writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The folder that is read-only: the disk, the folder, or the file itself.
TraceStoreFailure readOnly(const std::string& folder, const std::string& databasePath,
                           const std::string& detail) {
  using Kind = TraceStoreFailure::Kind;
  if (!writable(folder)) {
    return {errno == EROFS ? Kind::ReadOnlyDisk : Kind::ReadOnlyFolder, folder, detail};
  }
  if (exists(databasePath) && !writable(databasePath)) {
    return {errno == EROFS ? Kind::ReadOnlyDisk : Kind::ReadOnlyFile, databasePath, detail};
  }
  return {Kind::ReadOnlyFolder, folder, detail};
}

}  // namespace

TraceStoreFailure::TraceStoreFailure(Kind kind, std::string path, std::string detail)
    : kind_(kind), path_(std::move(path)), detail_(std::move(detail)) {}

std::string TraceStoreFailure::fileInTheWay(const std::string& path) {
  std::string prefix;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    prefix = path.substr(0, end);
    start = end + 1;
    if (prefix.empty()) continue;  // the root
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return {};
    if (!S_ISDIR(st.st_mode)) return prefix;
    if (slash == std::string::npos) break;
  }
  return {};
}

TraceStoreFailure TraceStoreFailure::fromErrno(int systemErrno, const std::string& path,
                                               const std::string& detail) {
  switch (systemErrno) {
    case ENOTDIR:
    case EEXIST: {
      const std::string file = fileInTheWay(path);
      if (!file.empty()) return {Kind::NotAFolder, file, detail};
      break;
    }
    case EACCES:
    case EPERM: {
      // The folder that could not be made or written: the nearest one that exists.
      std::string folder = path;
      while (!folder.empty() && !exists(folder)) {
        const auto slash = folder.rfind('/');
        folder = slash == std::string::npos || slash == 0 ? "/" : folder.substr(0, slash);
        if (folder == "/") break;
      }
      return {Kind::ReadOnlyFolder, folder, detail};
    }
    case EROFS:
      return {Kind::ReadOnlyDisk, path, detail};
    case ENOSPC:
      return {Kind::DiskFull, path, detail};
    case EDQUOT:
      return {Kind::QuotaExceeded, path, detail};
    case EFBIG:
      return {Kind::FileTooLarge, path, detail};
    default:
      break;
  }
  return {Kind::Other, path, detail};
}

TraceStoreFailure TraceStoreFailure::fromSqlite(int resultCode, int systemErrno,
                                                const std::string& folder,
                                                const std::string& databasePath,
                                                const std::string& detail) {
  switch (resultCode & 0xff) {
    case SQLITE_FULL:
      // ENOSPC reaches SQLite's writes as SQLITE_FULL, without the system error.
      return {Kind::DiskFull, folder, detail};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {Kind::Busy, databasePath, detail};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return {Kind::Damaged, databasePath, detail};
    case SQLITE_READONLY:
      return readOnly(folder, databasePath, detail);
    default:
      break;
  }
  if (const std::string file = fileInTheWay(folder); !file.empty()) {
    return {Kind::NotAFolder, file, detail};
  }
  switch (systemErrno) {
    case EACCES:
    case EPERM:
    case EROFS:
      return readOnly(folder, databasePath, detail);
    case ENOSPC:
      return {Kind::DiskFull, folder, detail};
    case EDQUOT:
      return {Kind::QuotaExceeded, folder, detail};
    case EFBIG:
      return {Kind::FileTooLarge, databasePath, detail};
    default:
      break;
  }
  return {Kind::Other, databasePath, detail};
}

std::string TraceStoreFailure::clause() const {
  std::string text;
  switch (kind_) {
    case Kind::None:
      return {};
    case Kind::WrongCurves:
      text = "there were no curves to capture";
      break;
    case Kind::DiskFull:
      text = "the disk holding " + path_ + " is full";
      break;
    case Kind::QuotaExceeded:
      text = "your disk quota is used up (" + path_ + ")";
      break;
    case Kind::FileTooLarge:
      text = "the file size limit of this session (ulimit -f) stops " + path_ + " from growing";
      break;
    case Kind::ReadOnlyFolder:
      text = "the folder " + path_ + " may not be written";
      break;
    case Kind::ReadOnlyFile:
      text = "the trace database " + path_ + " may not be written";
      break;
    case Kind::ReadOnlyDisk:
      text = path_ + " is on a disk mounted read-only";
      break;
    case Kind::NotAFolder:
      text = path_ + " is a file, not a folder";
      break;
    case Kind::NewerVersion:
      text = "the trace database " + path_ +
             " was written by a newer version of Quorvex and can only be read";
      break;
    case Kind::Busy:
      text = "another program kept the trace database busy; capture again";
      break;
    case Kind::Damaged:
      text = "the trace database " + path_ + " is damaged";
      break;
    case Kind::Other:
      text = "the trace database could not be written (" + detail_ + ")";
      break;
  }
  return text;
}

std::string TraceStoreFailure::reason() const {
  std::string text = clause();
  if (text.empty()) return text;
  // A clause that starts with a path keeps the path as it is.
  if (kind_ != Kind::ReadOnlyDisk && kind_ != Kind::NotAFolder) {
    text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
  }
  return text + ".";
}

std::string TraceStoreFailure::sentence() const {
  return kind_ == Kind::None ? std::string() : kNotSaved + clause() + ".";
}

}  // namespace qv
