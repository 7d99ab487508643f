#pragma once
// Why the trace store could not store something, in a form a window can act on: a kind,
// the folder or file concerned, and one plain sentence for the user. The store's own error
// text (what the log line carries) stays separate. A plain value, usable from any thread.
#include <string>

namespace qv {

class TraceStoreFailure {
 public:
  enum class Kind {
    None,            // nothing failed
    WrongCurves,     // the capture buffer did not hold three curves
    DiskFull,        // no space left on the disk (or the database reached its page limit)
    QuotaExceeded,   // the user's disk quota is used up
    FileTooLarge,    // the file may not grow: the process's file size limit
    ReadOnlyFolder,  // the data folder may not be written (permissions)
    ReadOnlyFile,    // the database file itself may not be written
    ReadOnlyDisk,    // the data folder lies on a disk mounted read-only
    NotAFolder,      // the data folder's path (or a folder above it) is a file
    NewerVersion,    // the database was written by a newer version: read, never written
    Busy,            // another program held the database's write lock too long
    Damaged,         // the database file is damaged
    Other,           // anything else: the sentence carries the store's own error
  };

  TraceStoreFailure() = default;
  // `path`: the folder or file the sentence names; `detail`: the store's error text.
  TraceStoreFailure(Kind kind, std::string path, std::string detail);

  // From an SQLite result code and the system's errno of the failed call, for the
  // database at `databasePath` in `folder`.
  static TraceStoreFailure fromSqlite(int resultCode, int systemErrno, const std::string& folder,
                                      const std::string& databasePath, const std::string& detail);
  // From a system errno of a file operation on `path` (making the folder, copying).
  static TraceStoreFailure fromErrno(int systemErrno, const std::string& path,
                                     const std::string& detail);
  // The part of `path` that is a file where a folder must be; empty when there is none.
  static std::string fileInTheWay(const std::string& path);

  explicit operator bool() const { return kind_ != Kind::None; }
  Kind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  const std::string& detail() const { return detail_; }

  // One sentence, for example "The trace was not saved: the disk is full." Empty for None.
  std::string sentence() const;
  // The same without the leading "The trace was not saved: ", capitalised, for messages
  // about other writes ("The disk is full.").
  std::string reason() const;

  bool operator==(const TraceStoreFailure&) const = default;

 private:
  std::string clause() const;

  Kind kind_ = Kind::None;
  std::string path_;
  std::string detail_;
};

}  // namespace qv
