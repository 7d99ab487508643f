#pragma once
// The SQLite file behind the trace store: opening (creating, migrating, or setting aside a
// file that is damaged or not ours), write transactions (TraceTransaction), checkpoints and
// the row reads and writes.
// Used on the trace store's thread only; SQLite's file locks guard against other processes.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "traces/RGBAColor.h"
#include "traces/TraceShot.h"
#include "traces/TraceStoreFailure.h"

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

  // Opens the database and reads every trace into `list`, in list order. False when no
  // database could be opened; lastError() and lastFailure() say why.
  bool open(std::vector<TraceShotRef>& list);
  // Checkpoints (when writable) and closes; a later open() starts again.
  void close();
  bool isOpen() const { return db_ != nullptr; }
  // Open but refusing writes (a newer schema, or a folder or file we may not write to).
  bool isReadOnly() const { return db_ != nullptr && readOnly_; }
  // Read-only because of permissions or a read-only disk, which may change while we run;
  // a newer schema never does.
  bool isReadOnlyByPermissions() const;
  // Read-only by permissions that have changed since: reopening would make it writable.
  bool mayWriteAgain() const;
  // Adds the columns a file from an older build lacks (they need the write lock); true when
  // the table has them all. Call outside a transaction.
  bool ensureColumns();
  // Reading a private copy of a read-only folder's database and its write-ahead log,
  // since there no index of the log can be made beside them.
  // Why writes are refused while isReadOnly() (kind None otherwise).
  const TraceStoreFailure& readOnlyFailure() const { return readOnlyFailure_; }
  bool readsPrivateCopy() const { return !copyFolder_.empty(); }
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }
  const std::string& lastError() const { return error_; }
  // What the last failure means for the user (kind None after success).
  const TraceStoreFailure& lastFailure() const { return failure_; }
  // True when the last failure was another connection holding the database.
  bool lastErrorIsBusy() const { return failure_.kind() == TraceStoreFailure::Kind::Busy; }
  // Applies to the open connection and to later ones.
  void setBusyTimeout(int milliseconds);
  int busyTimeout() const { return busyTimeoutMs_; }
  // Bounds the database to `pages` pages (0: SQLite's own bound); a write past it fails as
  // a full disk does. Applies to the open connection and to later ones.
  void setPageLimit(std::int64_t pages);
  bool inTransaction() const { return inTransaction_; }

  // Copies what the write-ahead log holds into the database file and empties the log, so
  // that a copy of the file alone carries every trace. Never waits: while another
  // connection reads, it copies what it can and leaves the rest in the log, where nothing
  // is lost; false then.
  bool checkpoint();

  bool loadAll(std::vector<TraceShotRef>& list);
  bool loadOrderedIds(std::vector<std::int64_t>& ids);
  // nullptr with lastError() empty: no such row.
  TraceShotRef load(std::int64_t id);
  // Changes whenever another connection commits.
  std::int64_t dataVersion();

  // Writes; call inside a TraceTransaction. Each returns false with lastError() set.
  bool insert(TraceShot& shot);
  bool setInteger(std::int64_t id, const char* column, std::int64_t value);
  bool setOptionalInteger(std::int64_t id, const char* column,
                          const std::optional<std::int64_t>& value);
  bool setReal(std::int64_t id, const char* column, double value);
  bool setIntegerWhere(const char* column, std::int64_t value, const char* where);
  bool setText(std::int64_t id, const char* column, const std::optional<std::string>& value);
  bool setBlob(std::int64_t id, const char* column, const std::optional<Bytes>& value);
  // Row ids matching an SQL condition, in list order.
  bool idsWhere(const char* where, std::vector<std::int64_t>& ids);
  bool remove(std::int64_t id);
  bool removeWhere(const char* where);
  // The colour index of the most recently captured trace, or no value in an empty store.
  std::optional<std::int64_t> newestColorIndex(bool* ok);
  // Every stored trace's colour index and explicit colour.
  bool colorsInUse(std::vector<std::pair<std::int64_t, std::optional<RGBAColor>>>& colors);
  bool dateInUse(std::int64_t micros, bool* ok);

  // Deletes the database file and its companions; the connection must be closed.
  void removeFiles();

 private:
  friend class TraceTransaction;
  enum class Outcome { Ok, Unusable, Failed };

  bool begin();  // BEGIN IMMEDIATE: waits for other writers up to the busy timeout
  bool commit();
  void rollback();

  Outcome tryOpen(std::vector<TraceShotRef>& list, std::string* unusableReason);
  Outcome inspect(bool* fresh, int* userVersion, std::string* unusableReason);
  bool connect(bool readOnly, bool immutable);
  void disconnect();
  bool makePrivateCopy();
  void dropPrivateCopy();
  bool createSchema();
  bool addMissingColumns();
  void chooseColumns(bool extrasPresent);
  void setReadOnly(const std::string& reason, TraceStoreFailure failure);
  bool exec(const char* sql);
  template <typename Value>
  bool update(std::int64_t id, const char* column, const Value& value);
  // With an empty `what`: the connection's last error. Always false.
  bool fail(const std::string& what);
  // The error number kept by the write-ahead log's file, else the database file's.
  int lastFileErrno();
  bool moveAside(const std::string& reason);

  std::string folder_;
  std::string path_;
  // The file actually opened: path_, or its private copy.
  std::string openPath_;
  std::string copyFolder_;
  sqlite3* db_ = nullptr;
  bool readOnly_ = false;
  bool immutable_ = false;
  bool inTransaction_ = false;
  int busyTimeoutMs_ = kBusyTimeoutMs;
  std::int64_t pageLimit_ = 0;
  std::string error_;
  TraceStoreFailure failure_;
  std::string readOnlyReason_;
  TraceStoreFailure readOnlyFailure_;
  // The column list of a row read, and the list order; older files opened read-only lack
  // the columns added since, which then read as their defaults.
  std::string selectColumns_;
  std::string listOrder_;
  bool extrasPresent_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace qv
