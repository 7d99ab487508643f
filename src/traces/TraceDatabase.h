#pragma once
// The SQLite file behind the trace store: opening (creating, migrating, or setting aside a
// file that is damaged or not ours), write transactions and the row reads and writes.
// Used on the trace store's thread only; SQLite's file locks guard against other processes.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "traces/TraceShot.h"

struct sqlite3;

namespace qv {

class TraceDatabase {
 public:
  static constexpr int kSchemaVersion = 15;
  static constexpr const char* kFileName = "traces.sqlite";
  // How long a write waits for another process's write before it gives up: short, since
  // writes run on the main thread (a capture that gives up is retried later).
  static constexpr int kBusyTimeoutMs = 200;

  explicit TraceDatabase(std::string folder);
  ~TraceDatabase();
  TraceDatabase(const TraceDatabase&) = delete;
  TraceDatabase& operator=(const TraceDatabase&) = delete;

  // Opens the database and reads every trace into `list`, newest first. False when no
  // database could be opened; lastError() says why.
  bool open(std::vector<TraceShotRef>& list);
  void close();
  bool isOpen() const { return db_ != nullptr; }
  // Open but refusing writes (a newer schema, or a folder we may not write to).
  bool isReadOnly() const { return db_ != nullptr && readOnly_; }
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }
  const std::string& lastError() const { return error_; }
  // True when the last failure was another connection holding the database.
  bool lastErrorIsBusy() const { return busy_; }
  // Applies to the open connection and to later ones.
  void setBusyTimeout(int milliseconds);
  int busyTimeout() const { return busyTimeoutMs_; }

  bool begin();  // BEGIN IMMEDIATE: waits for other writers up to the busy timeout
  bool commit();
  void rollback();
  bool inTransaction() const { return inTransaction_; }

  bool loadAll(std::vector<TraceShotRef>& list);
  bool loadOrderedIds(std::vector<std::int64_t>& ids);
  // nullptr with lastError() empty: no such row.
  TraceShotRef load(std::int64_t id);
  // Changes whenever another connection commits.
  std::int64_t dataVersion();

  // Writes; call inside begin()/commit(). Each returns false with lastError() set.
  bool insert(TraceShot& shot);
  bool setInteger(std::int64_t id, const char* column, std::int64_t value);
  bool setIntegerWhere(const char* column, std::int64_t value, const char* where);
  bool setText(std::int64_t id, const char* column, const std::optional<std::string>& value);
  bool setBlob(std::int64_t id, const char* column, const std::optional<Bytes>& value);
  // Row ids matching an SQL condition, newest first.
  bool idsWhere(const char* where, std::vector<std::int64_t>& ids);
  bool remove(std::int64_t id);
  bool removeWhere(const char* where);
  // The colour index of the newest trace, or no value in an empty store.
  std::optional<std::int64_t> newestColorIndex(bool* ok);
  bool dateInUse(std::int64_t micros, bool* ok);

  // Deletes the database file and its companions; the connection must be closed.
  void removeFiles();

 private:
  enum class Outcome { Ok, Unusable, Failed };
  Outcome tryOpen(std::vector<TraceShotRef>& list, std::string* unusableReason);
  Outcome inspect(bool* fresh, int* userVersion, std::string* unusableReason);
  bool connect(bool readOnly, bool immutable);
  bool createSchema();
  bool exec(const char* sql);
  template <typename Value>
  bool update(std::int64_t id, const char* column, const Value& value);
  bool fail(const std::string& what);
  bool moveAside(const std::string& reason);

  std::string folder_;
  std::string path_;
  sqlite3* db_ = nullptr;
  bool readOnly_ = false;
  bool immutable_ = false;
  bool inTransaction_ = false;
  bool busy_ = false;
  int busyTimeoutMs_ = kBusyTimeoutMs;
  std::string error_;
  std::string readOnlyReason_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace qv
