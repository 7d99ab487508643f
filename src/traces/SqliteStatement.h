#pragma once
// A prepared SQLite statement that finalises itself. Used on the thread that owns its
// connection only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qv {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // False when preparing failed; resultCode() and the connection's message say why.
  bool ok() const { return stmt_ != nullptr; }

  // Parameters are numbered from 1, as in SQL.
  SqliteStatement& bind(int index, std::int64_t value);
  SqliteStatement& bind(int index, double value);
  SqliteStatement& bind(int index, const std::optional<std::string>& text);
  SqliteStatement& bind(int index, const std::optional<std::vector<std::uint8_t>>& blob);

  // True while a row is available. After false, resultCode() is SQLITE_DONE on success.
  bool step();
  // Runs to completion; true on success.
  bool run();
  void reset();
  int resultCode() const { return rc_; }

  std::int64_t int64(int column) const;
  double real(int column) const;
  bool isNull(int column) const;
  std::optional<std::string> text(int column) const;
  std::optional<std::vector<std::uint8_t>> blob(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = 0;
};

}  // namespace qv
