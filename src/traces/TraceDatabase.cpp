// The trace database's file: opening, creating, migrating, setting aside, checkpointing.
// Row reads and writes are in TraceDatabaseRows.cpp.
#include "traces/TraceDatabase.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform/Log.h"
#include "traces/SqliteStatement.h"
#include "traces/TraceColumns.h"
#include "traces/TraceFolders.h"
#include "traces/TraceTransaction.h"

namespace qv {
namespace {

namespace columns = trace_columns;

bool isDamageCode(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool fileHasBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

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

// Looks at the file through a read-only connection, so a file that is not ours is never
// written to, not even by a checkpoint on close.
TraceDatabase::Outcome TraceDatabase::inspect(bool* fresh, int* userVersion,
                                              std::string* unusableReason) {
  *fresh = false;
  *userVersion = 0;
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0 || st.st_size == 0) {
    *fresh = true;
    return Outcome::Ok;
  }
  if (!connect(true, false)) return Outcome::Failed;
  std::int64_t appId = 0;
  std::set<std::string> tables;
  std::set<std::string> names;
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < 2; ++attempt) {
    tables.clear();
    names.clear();
    SqliteStatement a(db_, "PRAGMA application_id");
    if (a.step()) appId = a.int64(0);
    rc = a.resultCode();
    if (rc == SQLITE_ROW) {
      SqliteStatement v(db_, "PRAGMA user_version");
      if (v.step()) *userVersion = static_cast<int>(v.int64(0));
      SqliteStatement t(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
      while (t.step()) tables.insert(t.text(0).value_or(""));
      SqliteStatement c(db_, "PRAGMA table_info(TraceShot)");
      while (c.step()) names.insert(c.text(1).value_or(""));
      rc = t.resultCode();
      if (rc == SQLITE_DONE) rc = c.resultCode();
    }
    // A folder we may not write to: no index of the write-ahead log can be made beside it.
    // Without a log the file is read as it is; a log with traces in it is read from a
    // private copy, so that none of them is missing.
    const int primary = rc & 0xff;
    if ((primary != SQLITE_CANTOPEN && primary != SQLITE_READONLY) || attempt > 0) break;
    if (fileHasBytes(path_ + "-wal")) {
      if (!makePrivateCopy() || !connect(true, false)) return Outcome::Failed;
    } else if (!connect(true, true)) {
      return Outcome::Failed;
    }
  }
  if (isDamageCode(rc)) {
    *unusableReason = sqlite3_errstr(rc);
    return Outcome::Unusable;
  }
  if (rc != SQLITE_DONE) {
    fail(std::string(sqlite3_errstr(rc)) + " (" + path_ + ")");
    failure_ = TraceStoreFailure::fromSqlite(rc, 0, folder_, path_, error_);
    return Outcome::Failed;
  }
  tables.erase("sqlite_sequence");
  if (appId != 0 && appId != columns::kApplicationId) {
    *unusableReason = "it belongs to another program";
    return Outcome::Unusable;
  }
  if (!tables.count("TraceShot")) {
    if (!tables.empty()) {
      *unusableReason = "it holds other tables and no traces";
      return Outcome::Unusable;
    }
    *fresh = true;
    return Outcome::Ok;
  }
  for (const char* column : columns::kBase) {
    if (!names.count(column)) {
      *unusableReason = std::string("its trace table has no column ") + column;
      return Outcome::Unusable;
    }
  }
  bool extras = true;
  for (const auto& added : columns::kAdded) extras = extras && names.count(added.name) > 0;
  chooseColumns(extras);
  return Outcome::Ok;
}

void TraceDatabase::chooseColumns(bool extrasPresent) {
  selectColumns_.clear();
  for (const char* column : columns::kBase) {
    if (!selectColumns_.empty()) selectColumns_ += ", ";
    selectColumns_ += column;
  }
  for (const auto& added : columns::kAdded) {
    selectColumns_ += ", ";
    selectColumns_ += extrasPresent ? added.name : added.missing;
  }
  listOrder_ = extrasPresent ? columns::kListOrder : columns::kDateOrder;
  extrasPresent_ = extrasPresent;
}

bool TraceDatabase::createSchema() {
  TraceTransaction transaction(*this);
  return transaction.began() &&
         exec(
             "CREATE TABLE IF NOT EXISTS TraceShot ("
             " id INTEGER PRIMARY KEY AUTOINCREMENT,"
             " selected INTEGER NOT NULL DEFAULT 0,"
             " visible INTEGER NOT NULL DEFAULT 0,"
             " zOrder INTEGER NOT NULL DEFAULT 0,"
             " colorIndex INTEGER NOT NULL DEFAULT 0,"
             " coherenceThreshold REAL NOT NULL DEFAULT 0,"
             " name TEXT, comment TEXT, filepath TEXT, uuid TEXT,"
             " colorData BLOB, coherenceData BLOB, magnitudeData BLOB, phaseData BLOB,"
             " dateCreated INTEGER, dateModified INTEGER);"
             "CREATE INDEX IF NOT EXISTS TraceShotByDate ON TraceShot(dateCreated);"
             "PRAGMA application_id = 1364612178;") &&
         exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str()) &&
         transaction.commit();
}

// New columns keep the schema version: builds that know only the base columns read and
// write the table as before, and their inserts take the new columns' defaults.
bool TraceDatabase::addMissingColumns() {
  std::set<std::string> names;
  SqliteStatement c(db_, "PRAGMA table_info(TraceShot)");
  while (c.step()) names.insert(c.text(1).value_or(""));
  if (c.resultCode() != SQLITE_DONE) return fail("");
  bool missing = false;
  for (const auto& added : columns::kAdded) missing = missing || !names.count(added.name);
  if (!missing) return true;
  TraceTransaction transaction(*this);
  if (!transaction.began()) return false;
  // Read again under the write lock: another process may have added them meanwhile.
  names.clear();
  SqliteStatement again(db_, "PRAGMA table_info(TraceShot)");
  while (again.step()) names.insert(again.text(1).value_or(""));
  for (const auto& added : columns::kAdded) {
    if (names.count(added.name)) continue;
    const std::string sql =
        std::string("ALTER TABLE TraceShot ADD COLUMN ") + added.name + " " + added.declaration;
    if (!exec(sql.c_str())) return false;
  }
  return transaction.commit();
}

void TraceDatabase::setReadOnly(const std::string& reason, TraceStoreFailure failure) {
  readOnly_ = true;
  readOnlyReason_ = reason;
  readOnlyFailure_ = std::move(failure);
}

bool TraceDatabase::mayWriteAgain() const {
  return isReadOnlyByPermissions() && writable(folder_) && (!exists(path_) || writable(path_));
}

bool TraceDatabase::ensureColumns() {
  if (extrasPresent_ || !db_ || readOnly_) return extrasPresent_;
  if (!addMissingColumns()) return false;
  chooseColumns(true);
  return true;
}

bool TraceDatabase::isReadOnlyByPermissions() const {
  using Kind = TraceStoreFailure::Kind;
  const Kind kind = readOnlyFailure_.kind();
  return isReadOnly() &&
         (kind == Kind::ReadOnlyFolder || kind == Kind::ReadOnlyFile || kind == Kind::ReadOnlyDisk);
}

TraceDatabase::Outcome TraceDatabase::tryOpen(std::vector<TraceShotRef>& list,
                                              std::string* unusableReason) {
  bool fresh = false;
  int version = 0;
  chooseColumns(true);
  const Outcome inspected = inspect(&fresh, &version, unusableReason);
  if (inspected != Outcome::Ok) return inspected;
  const bool folderReadOnly = immutable_ || readsPrivateCopy();
  if (!connect(folderReadOnly, immutable_)) return Outcome::Failed;
  if (fresh) chooseColumns(false);

  if (version > kSchemaVersion) {
    qv::log("Trace database %s has schema version %d, newer than %d: opened read-only",
            path_.c_str(), version, kSchemaVersion);
    exec("PRAGMA query_only = 1");
    setReadOnly("the trace database was written by a newer version (schema " +
                    std::to_string(version) + ") and is read-only",
                {TraceStoreFailure::Kind::NewerVersion, path_, {}});
  } else if (!readOnly_) {
    // WAL lets a reader in another process go on while we write; FULL makes every commit
    // reach the disk before the operation returns.
    if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = FULL")) {
      if (!isDamageCode(sqlite3_errcode(db_))) return Outcome::Failed;
      *unusableReason = error_;
      return Outcome::Unusable;
    }
    if (fresh && !createSchema()) return Outcome::Failed;
    // Another process holding the write lock only delays them: added before a later write.
    if (!ensureColumns()) {
      qv::log("Trace database %s: columns not added yet (%s)", path_.c_str(), error_.c_str());
    }
  } else if (fresh) {
    fail("cannot create " + path_ + ": the folder is read-only");
    failure_ = TraceStoreFailure::fromSqlite(SQLITE_READONLY, 0, folder_, path_, error_);
    return Outcome::Failed;
  }
  if (!fresh && version < kSchemaVersion) {
    // Records of older versions read as they are; only the version number moves on.
    qv::log("Realm migration from v.%llul to v.%ul", static_cast<unsigned long long>(version),
            static_cast<unsigned>(kSchemaVersion));
    if (!readOnly_) {
      exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
      exec("PRAGMA application_id = 1364612178");
    }
  }
  if (!loadAll(list)) {
    if (isDamageCode(sqlite3_errcode(db_))) {
      *unusableReason = error_;
      return Outcome::Unusable;
    }
    return Outcome::Failed;
  }
  if (readOnly_ && readOnlyReason_.empty()) {
    const std::string reason = "attempt to write a readonly database (" + path_ + ")";
    setReadOnly(reason, TraceStoreFailure::fromSqlite(SQLITE_READONLY, 0, folder_, path_, reason));
    qv::log("Trace database %s may not be written here: traces can be shown, not stored",
            path_.c_str());
  }
  // A file left with traces in its log (by an older build, or a process that was killed)
  // carries them in the file itself from now on.
  checkpoint();
  return Outcome::Ok;
}

bool TraceDatabase::open(std::vector<TraceShotRef>& list) {
  close();
  error_.clear();
  failure_ = {};
  list.clear();
  int folderError = 0;
  if (!TraceFolders::makeFolder(folder_, &error_, &folderError) && !TraceFolders::exists(path_)) {
    failure_ = TraceStoreFailure::fromErrno(folderError, folder_, error_);
    return false;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string reason;
    const Outcome outcome = tryOpen(list, &reason);
    if (outcome == Outcome::Ok) {
      error_.clear();
      failure_ = {};
      return true;
    }
    disconnect();
    list.clear();
    if (outcome == Outcome::Failed || !moveAside(reason)) {
      dropPrivateCopy();
      return false;
    }
  }
  dropPrivateCopy();
  return false;
}

bool TraceDatabase::moveAside(const std::string& reason) {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return true;  // already gone
  // Another process may have set it aside and made a fresh one meanwhile: look again.
  if (st.st_dev != device_ || st.st_ino != inode_) return true;
  // Its WAL holds its pages; left here it would be replayed into the new file.
  std::string aside;
  if (!TraceFolders::moveAside(path_, {"-wal", "-shm"}, &aside, &error_)) {
    failure_ = TraceStoreFailure::fromSqlite(SQLITE_CORRUPT, 0, folder_, path_, error_);
    return false;
  }
  qv::log("Trace database %s cannot be used (%s); moved it to %s and started a new one",
          path_.c_str(), reason.c_str(), aside.c_str());
  return true;
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
