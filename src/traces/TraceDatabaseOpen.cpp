// The trace database's opening: looking at the file first, creating it, adding the columns
// a file from an older build lacks, opening read-only where it may not be written, and
// setting aside a file that is damaged or not ours.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/Log.h"
#include "traces/SqliteStatement.h"
#include "traces/TraceColumns.h"
#include "traces/TraceDatabase.h"
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

}  // namespace qv
