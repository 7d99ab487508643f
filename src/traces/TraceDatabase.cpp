// The trace database's connection: connecting, failures, checkpoints, transactions, the
// private copy of a read-only folder's files. Opening the file is in TraceDatabaseOpen.cpp,
// row reads and writes in TraceDatabaseRows.cpp.
#include "traces/TraceDatabase.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/Log.h"

namespace qv {

TraceDatabase::TraceDatabase(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/" + kFileName), openPath_(path_) {
  chooseColumns(true);
}

TraceDatabase::~TraceDatabase() { close(); }

bool TraceDatabase::fail(const std::string& what) {
  error_ = what;
  int code = SQLITE_ERROR;
  int systemError = 0;
  if (db_ && what.empty()) {
    const char* message = sqlite3_errmsg(db_);
    error_ = message ? message : "unknown error";
    code = sqlite3_extended_errcode(db_);
    // "disk I/O error" alone does not tell a user what to do; the system's reason does.
    const int primary = code & 0xff;
    if (primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN ||
        primary == SQLITE_READONLY) {
      systemError = sqlite3_system_errno(db_);
    }
    if (systemError != 0 && primary != SQLITE_READONLY) {
      error_ += " (";
      error_ += std::strerror(systemError);
      error_ += ")";
    }
    // The connection's error number is often lost by the rollback that follows a failed
    // write; the file that failed keeps its own. Only for telling the user why: the log
    // line stays as it is.
    if (systemError == 0 && primary == SQLITE_IOERR) systemError = lastFileErrno();
  }
  failure_ = TraceStoreFailure::fromSqlite(code, systemError, folder_, path_, error_);
  return false;
}

int TraceDatabase::lastFileErrno() {
  int logErrno = 0;
  sqlite3_file* log = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) == SQLITE_OK && log &&
      log->pMethods && log->pMethods->xFileControl) {
    log->pMethods->xFileControl(log, SQLITE_FCNTL_LAST_ERRNO, &logErrno);
  }
  if (logErrno != 0) return logErrno;
  int mainErrno = 0;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_LAST_ERRNO, &mainErrno);
  return mainErrno;
}

bool TraceDatabase::exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  const std::string text = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  fail("");
  error_ = text;
  return false;
}

void TraceDatabase::disconnect() {
  if (!db_) return;
  if (inTransaction_) rollback();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  readOnly_ = false;
  immutable_ = false;
  readOnlyReason_.clear();
  readOnlyFailure_ = {};
}

void TraceDatabase::close() {
  if (db_ && !readOnly_ && !inTransaction_) checkpoint();
  disconnect();
  dropPrivateCopy();
}

bool TraceDatabase::checkpoint() {
  if (!db_ || readOnly_ || inTransaction_) return false;
  // No busy handler: a checkpoint that would have to wait for a reader does what it can
  // without waiting and leaves the rest in the log.
  sqlite3_busy_timeout(db_, 0);
  const int rc =
      sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  if (rc == SQLITE_OK) return true;
  if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) {
    qv::log("Trace database %s: the write-ahead log keeps its traces for now (%s)", path_.c_str(),
            sqlite3_errmsg(db_));
  }
  return false;
}

bool TraceDatabase::connect(bool readOnly, bool immutable) {
  disconnect();
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  std::string name = openPath_;
  if (immutable) {
    // Only for a folder nobody can write to: there is no WAL index to build there, and
    // nobody can change the file under us.
    flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = "file:" + openPath_ + "?immutable=1";
  }
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int systemError = db_ ? sqlite3_system_errno(db_) : 0;
    error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    error_ += " (" + path_ + ")";
    failure_ = TraceStoreFailure::fromSqlite(rc, systemError, folder_, path_, error_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  if (pageLimit_ > 0) exec(("PRAGMA max_page_count = " + std::to_string(pageLimit_)).c_str());
  readOnly_ = readOnly || immutable || sqlite3_db_readonly(db_, "main") == 1;
  immutable_ = immutable;
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  return true;
}

bool TraceDatabase::makePrivateCopy() {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "quorvex-traces-XXXXXX").string();
  if (ec || !::mkdtemp(pattern.data())) return fail("cannot make a private copy of " + path_);
  copyFolder_ = pattern;
  const std::string copy = copyFolder_ + "/" + kFileName;
  fs::copy_file(path_, copy, ec);
  if (!ec) fs::copy_file(path_ + "-wal", copy + "-wal", ec);
  if (ec) {
    dropPrivateCopy();
    return fail("cannot make a private copy of " + path_ + ": " + ec.message());
  }
  openPath_ = copy;
  qv::log(
      "Trace database %s keeps traces in its write-ahead log in a folder that may not be "
      "written: reading a private copy",
      path_.c_str());
  return true;
}

void TraceDatabase::dropPrivateCopy() {
  openPath_ = path_;
  if (copyFolder_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(copyFolder_, ec);
  copyFolder_.clear();
}

void TraceDatabase::setBusyTimeout(int milliseconds) {
  busyTimeoutMs_ = milliseconds;
  if (db_) sqlite3_busy_timeout(db_, busyTimeoutMs_);
}

void TraceDatabase::setPageLimit(std::int64_t pages) {
  pageLimit_ = pages;
  // 0 asks SQLite for the limit without changing it; the largest one lifts ours.
  const std::int64_t applied = pages > 0 ? pages : 0xfffffffe;
  if (db_) exec(("PRAGMA max_page_count = " + std::to_string(applied)).c_str());
}

bool TraceDatabase::begin() {
  if (!db_) return false;
  if (readOnly_) {
    error_ = readOnlyReason_;
    failure_ = readOnlyFailure_;
    return false;
  }
  // One try: the busy handler waits up to the busy timeout and no longer.
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return fail("");
  inTransaction_ = true;
  return true;
}

bool TraceDatabase::commit() {
  if (!inTransaction_) return false;
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("");
    const std::string why = error_;
    const TraceStoreFailure failure = failure_;
    rollback();
    error_ = why;
    failure_ = failure;
    return false;
  }
  inTransaction_ = false;
  return true;
}

void TraceDatabase::rollback() {
  if (!inTransaction_) return;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
}

void TraceDatabase::removeFiles() {
  close();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::remove((path_ + suffix).c_str());
  }
}

}  // namespace qv
