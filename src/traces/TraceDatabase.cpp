#include "traces/TraceDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#include "platform/Log.h"
#include "traces/SqliteStatement.h"
#include "traces/TraceFolders.h"

namespace qv {
namespace {

// "QVTR": marks the file as ours, so another program's SQLite file is never mistaken for it.
constexpr std::int64_t kApplicationId = 0x51565452;

constexpr const char* kColumns =
    "id, selected, visible, zOrder, colorIndex, coherenceThreshold, name, comment, filepath, "
    "uuid, colorData, coherenceData, magnitudeData, phaseData, dateCreated, dateModified";
constexpr const char* kRequiredColumns[] = {"id",
                                            "selected",
                                            "visible",
                                            "zOrder",
                                            "colorIndex",
                                            "coherenceThreshold",
                                            "name",
                                            "comment",
                                            "filepath",
                                            "uuid",
                                            "colorData",
                                            "coherenceData",
                                            "magnitudeData",
                                            "phaseData",
                                            "dateCreated",
                                            "dateModified"};
// Ties in the capture time fall back to insertion order, so the list order never wobbles.
constexpr const char* kOrder = " ORDER BY dateCreated DESC, id DESC";

std::optional<TraceDate> dateFrom(const SqliteStatement& s, int column) {
  if (s.isNull(column)) return std::nullopt;
  return TraceDate(std::chrono::microseconds(s.int64(column)));
}

std::optional<std::int64_t> micros(const std::optional<TraceDate>& date) {
  if (!date) return std::nullopt;
  return date->time_since_epoch().count();
}

TraceShotRef shotFromRow(const SqliteStatement& s) {
  auto shot = std::make_shared<TraceShot>();
  shot->id = s.int64(0);
  shot->selected = s.int64(1) != 0;
  shot->visible = s.int64(2) != 0;
  shot->zOrder = s.int64(3);
  shot->colorIndex = s.int64(4);
  shot->coherenceThreshold = static_cast<float>(s.real(5));
  shot->name = s.text(6);
  shot->comment = s.text(7);
  shot->filepath = s.text(8);
  shot->uuid = s.text(9);
  shot->colorData = s.blob(10);
  shot->coherenceData = s.blob(11);
  shot->magnitudeData = s.blob(12);
  shot->phaseData = s.blob(13);
  shot->dateCreated = dateFrom(s, 14);
  shot->dateModified = dateFrom(s, 15);
  return shot;
}

bool isDamageCode(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

}  // namespace

TraceDatabase::TraceDatabase(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/" + kFileName) {}

TraceDatabase::~TraceDatabase() { close(); }

bool TraceDatabase::fail(const std::string& what) {
  error_ = what;
  busy_ = false;
  if (db_ && what.empty()) {
    const char* message = sqlite3_errmsg(db_);
    error_ = message ? message : "unknown error";
    // "disk I/O error" alone does not tell a user what to do; the system's reason does.
    const int primary = sqlite3_errcode(db_) & 0xff;
    busy_ = primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
    const int systemError = sqlite3_system_errno(db_);
    if (systemError != 0 &&
        (primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN)) {
      error_ += " (";
      error_ += std::strerror(systemError);
      error_ += ")";
    }
  }
  return false;
}

bool TraceDatabase::exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  error_ = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return false;
}

void TraceDatabase::close() {
  if (!db_) return;
  if (inTransaction_) rollback();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  readOnly_ = false;
  immutable_ = false;
  readOnlyReason_.clear();
}

bool TraceDatabase::connect(bool readOnly, bool immutable) {
  close();
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  std::string name = path_;
  if (immutable) {
    // Only for a folder nobody can write to: there is no WAL index to build there, and
    // nobody can change the file under us.
    flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = "file:" + path_ + "?immutable=1";
  }
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    error_ += " (" + path_ + ")";
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  readOnly_ = readOnly || immutable || sqlite3_db_readonly(db_, "main") == 1;
  immutable_ = immutable;
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  return true;
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
  std::set<std::string> columns;
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < 2; ++attempt) {
    SqliteStatement a(db_, "PRAGMA application_id");
    if (a.step()) appId = a.int64(0);
    rc = a.resultCode();
    if (rc == SQLITE_ROW) {
      SqliteStatement v(db_, "PRAGMA user_version");
      if (v.step()) *userVersion = static_cast<int>(v.int64(0));
      SqliteStatement t(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
      while (t.step()) tables.insert(t.text(0).value_or(""));
      SqliteStatement c(db_, "PRAGMA table_info(TraceShot)");
      while (c.step()) columns.insert(c.text(1).value_or(""));
      rc = t.resultCode();
      if (rc == SQLITE_DONE) rc = c.resultCode();
    }
    // A WAL file in a folder we may not write to cannot get its index; read it as it is.
    const int primary = rc & 0xff;
    if ((primary != SQLITE_CANTOPEN && primary != SQLITE_READONLY) || attempt > 0) break;
    if (!connect(true, true)) return Outcome::Failed;
  }
  if (isDamageCode(rc)) {
    *unusableReason = sqlite3_errstr(rc);
    return Outcome::Unusable;
  }
  if (rc != SQLITE_DONE) {
    fail(std::string(sqlite3_errstr(rc)) + " (" + path_ + ")");
    return Outcome::Failed;
  }
  tables.erase("sqlite_sequence");
  if (appId != 0 && appId != kApplicationId) {
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
  for (const char* column : kRequiredColumns) {
    if (!columns.count(column)) {
      *unusableReason = std::string("its trace table has no column ") + column;
      return Outcome::Unusable;
    }
  }
  return Outcome::Ok;
}

bool TraceDatabase::createSchema() {
  if (!begin()) return false;
  const bool ok = exec(
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
                  exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  if (!ok) {
    const std::string why = error_;
    rollback();
    error_ = why;
    return false;
  }
  return commit();
}

TraceDatabase::Outcome TraceDatabase::tryOpen(std::vector<TraceShotRef>& list,
                                              std::string* unusableReason) {
  bool fresh = false;
  int version = 0;
  const Outcome inspected = inspect(&fresh, &version, unusableReason);
  if (inspected != Outcome::Ok) return inspected;
  const bool folderReadOnly = immutable_;
  if (!connect(folderReadOnly, folderReadOnly)) return Outcome::Failed;

  if (version > kSchemaVersion) {
    qv::log("Trace database %s has schema version %d, newer than %d: opened read-only",
            path_.c_str(), version, kSchemaVersion);
    exec("PRAGMA query_only = 1");
    readOnly_ = true;
    readOnlyReason_ = "the trace database was written by a newer version (schema " +
                      std::to_string(version) + ") and is read-only";
  } else if (!readOnly_) {
    // WAL lets a reader in another process go on while we write; FULL makes every commit
    // reach the disk before the operation returns.
    if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = FULL")) {
      if (!isDamageCode(sqlite3_errcode(db_))) return Outcome::Failed;
      *unusableReason = error_;
      return Outcome::Unusable;
    }
    if (fresh && !createSchema()) return Outcome::Failed;
  } else if (fresh) {
    fail("cannot create " + path_ + ": the folder is read-only");
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
    readOnlyReason_ = "attempt to write a readonly database (" + path_ + ")";
    qv::log("Trace database %s may not be written here: traces can be shown, not stored",
            path_.c_str());
  }
  return Outcome::Ok;
}

bool TraceDatabase::open(std::vector<TraceShotRef>& list) {
  close();
  error_.clear();
  list.clear();
  if (!TraceFolders::makeFolder(folder_, &error_) && !TraceFolders::exists(path_)) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string reason;
    const Outcome outcome = tryOpen(list, &reason);
    if (outcome == Outcome::Ok) {
      error_.clear();
      return true;
    }
    close();
    list.clear();
    if (outcome == Outcome::Failed || !moveAside(reason)) return false;
  }
  return false;
}

bool TraceDatabase::moveAside(const std::string& reason) {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return true;  // already gone
  // Another process may have set it aside and made a fresh one meanwhile: look again.
  if (st.st_dev != device_ || st.st_ino != inode_) return true;
  // Its WAL holds its pages; left here it would be replayed into the new file.
  std::string aside;
  if (!TraceFolders::moveAside(path_, {"-wal", "-shm"}, &aside, &error_)) return false;
  qv::log("Trace database %s cannot be used (%s); moved it to %s and started a new one",
          path_.c_str(), reason.c_str(), aside.c_str());
  return true;
}

void TraceDatabase::setBusyTimeout(int milliseconds) {
  busyTimeoutMs_ = milliseconds;
  if (db_) sqlite3_busy_timeout(db_, busyTimeoutMs_);
}

bool TraceDatabase::begin() {
  if (!db_) return false;
  if (readOnly_) return fail(readOnlyReason_);
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
    rollback();
    error_ = why;
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

bool TraceDatabase::loadAll(std::vector<TraceShotRef>& list) {
  list.clear();
  SqliteStatement s(db_, (std::string("SELECT ") + kColumns + " FROM TraceShot" + kOrder).c_str());
  while (s.step()) list.push_back(shotFromRow(s));
  return s.resultCode() == SQLITE_DONE || fail("");
}

bool TraceDatabase::loadOrderedIds(std::vector<std::int64_t>& ids) {
  ids.clear();
  SqliteStatement s(db_, (std::string("SELECT id FROM TraceShot") + kOrder).c_str());
  while (s.step()) ids.push_back(s.int64(0));
  return s.resultCode() == SQLITE_DONE || fail("");
}

TraceShotRef TraceDatabase::load(std::int64_t id) {
  error_.clear();
  SqliteStatement s(db_,
                    (std::string("SELECT ") + kColumns + " FROM TraceShot WHERE id = ?").c_str());
  s.bind(1, id);
  if (s.step()) return shotFromRow(s);
  if (s.resultCode() != SQLITE_DONE) fail("");
  return nullptr;
}

std::int64_t TraceDatabase::dataVersion() {
  SqliteStatement s(db_, "PRAGMA data_version");
  return s.step() ? s.int64(0) : -1;
}

bool TraceDatabase::insert(TraceShot& shot) {
  SqliteStatement s(db_,
                    "INSERT INTO TraceShot (selected, visible, zOrder, colorIndex, "
                    "coherenceThreshold, name, comment, filepath, uuid, colorData, coherenceData, "
                    "magnitudeData, phaseData, dateCreated, dateModified) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.bind(1, std::int64_t{shot.selected})
      .bind(2, std::int64_t{shot.visible})
      .bind(3, shot.zOrder)
      .bind(4, shot.colorIndex)
      .bind(5, double{shot.coherenceThreshold})
      .bind(6, shot.name)
      .bind(7, shot.comment)
      .bind(8, shot.filepath)
      .bind(9, shot.uuid)
      .bind(10, shot.colorData)
      .bind(11, shot.coherenceData)
      .bind(12, shot.magnitudeData)
      .bind(13, shot.phaseData);
  const auto created = micros(shot.dateCreated);
  const auto modified = micros(shot.dateModified);
  if (created) s.bind(14, *created);
  if (modified) s.bind(15, *modified);
  if (!s.run()) return fail("");
  shot.id = sqlite3_last_insert_rowid(db_);
  return true;
}

template <typename Value>
bool TraceDatabase::update(std::int64_t id, const char* column, const Value& value) {
  SqliteStatement s(db_,
                    (std::string("UPDATE TraceShot SET ") + column + " = ? WHERE id = ?").c_str());
  s.bind(1, value).bind(2, id);
  return s.run() || fail("");
}

bool TraceDatabase::setInteger(std::int64_t id, const char* column, std::int64_t value) {
  return update(id, column, value);
}

bool TraceDatabase::setText(std::int64_t id, const char* column,
                            const std::optional<std::string>& value) {
  return update(id, column, value);
}

bool TraceDatabase::setBlob(std::int64_t id, const char* column,
                            const std::optional<Bytes>& value) {
  return update(id, column, value);
}

bool TraceDatabase::setIntegerWhere(const char* column, std::int64_t value, const char* where) {
  SqliteStatement s(
      db_, (std::string("UPDATE TraceShot SET ") + column + " = ? WHERE " + where).c_str());
  s.bind(1, value);
  return s.run() || fail("");
}

bool TraceDatabase::idsWhere(const char* where, std::vector<std::int64_t>& ids) {
  ids.clear();
  SqliteStatement s(db_, (std::string("SELECT id FROM TraceShot WHERE ") + where + kOrder).c_str());
  while (s.step()) ids.push_back(s.int64(0));
  return s.resultCode() == SQLITE_DONE || fail("");
}

bool TraceDatabase::remove(std::int64_t id) {
  SqliteStatement s(db_, "DELETE FROM TraceShot WHERE id = ?");
  s.bind(1, id);
  return s.run() || fail("");
}

bool TraceDatabase::removeWhere(const char* where) {
  SqliteStatement s(db_, (std::string("DELETE FROM TraceShot WHERE ") + where).c_str());
  return s.run() || fail("");
}

std::optional<std::int64_t> TraceDatabase::newestColorIndex(bool* ok) {
  SqliteStatement s(
      db_, (std::string("SELECT colorIndex FROM TraceShot") + kOrder + " LIMIT 1").c_str());
  if (s.step()) {
    *ok = true;
    return s.int64(0);
  }
  *ok = s.resultCode() == SQLITE_DONE || fail("");
  return std::nullopt;
}

bool TraceDatabase::dateInUse(std::int64_t micros, bool* ok) {
  SqliteStatement s(db_, "SELECT 1 FROM TraceShot WHERE dateCreated = ? LIMIT 1");
  s.bind(1, micros);
  const bool found = s.step();
  *ok = found || s.resultCode() == SQLITE_DONE || fail("");
  return found;
}

void TraceDatabase::removeFiles() {
  close();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::remove((path_ + suffix).c_str());
  }
}

}  // namespace qv
