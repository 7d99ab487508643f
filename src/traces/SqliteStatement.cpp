#include "traces/SqliteStatement.h"

#include <sqlite3.h>

namespace qv {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (rc_ != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, double value) {
  if (stmt_) sqlite3_bind_double(stmt_, index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, const std::optional<std::string>& text) {
  if (!stmt_) return *this;
  if (text) {
    sqlite3_bind_text64(stmt_, index, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else {
    sqlite3_bind_null(stmt_, index);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index,
                                       const std::optional<std::vector<std::uint8_t>>& blob) {
  if (!stmt_) return *this;
  if (!blob) {
    sqlite3_bind_null(stmt_, index);
  } else if (blob->empty()) {
    // A null pointer would store NULL; an empty blob must stay an empty blob.
    sqlite3_bind_zeroblob(stmt_, index, 0);
  } else {
    sqlite3_bind_blob64(stmt_, index, blob->data(), blob->size(), SQLITE_STATIC);
  }
  return *this;
}

bool SqliteStatement::step() {
  if (!stmt_) return false;
  rc_ = sqlite3_step(stmt_);
  return rc_ == SQLITE_ROW;
}

bool SqliteStatement::run() {
  while (step()) {
  }
  return stmt_ && rc_ == SQLITE_DONE;
}

void SqliteStatement::reset() {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t SqliteStatement::int64(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

double SqliteStatement::real(int column) const { return sqlite3_column_double(stmt_, column); }

bool SqliteStatement::isNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::optional<std::string> SqliteStatement::text(int column) const {
  if (isNull(column)) return std::nullopt;
  const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return std::string(data ? data : "", static_cast<size_t>(size));
}

std::optional<std::vector<std::uint8_t>> SqliteStatement::blob(int column) const {
  if (isNull(column)) return std::nullopt;
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  if (!data || size <= 0) return std::vector<std::uint8_t>{};
  return std::vector<std::uint8_t>(data, data + size);
}

}  // namespace qv
