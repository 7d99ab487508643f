// The trace database's row reads and writes. Opening and the file itself are in
// TraceDatabase.cpp.
#include <sqlite3.h>

#include "traces/SqliteStatement.h"
#include "traces/TraceColumns.h"
#include "traces/TraceDatabase.h"

namespace qv {
namespace {

namespace columns = trace_columns;

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
  if (!s.isNull(16)) shot->listOrder = s.int64(16);
  shot->offsetDb = s.real(17);
  shot->offsetDelayMs = s.real(18);
  shot->source = s.text(19);
  shot->calibration = s.text(20);
  return shot;
}

}  // namespace

bool TraceDatabase::loadAll(std::vector<TraceShotRef>& list) {
  list.clear();
  SqliteStatement s(db_, ("SELECT " + selectColumns_ + " FROM TraceShot" + listOrder_).c_str());
  while (s.step()) list.push_back(shotFromRow(s));
  return s.resultCode() == SQLITE_DONE || fail("");
}

bool TraceDatabase::loadOrderedIds(std::vector<std::int64_t>& ids) {
  ids.clear();
  SqliteStatement s(db_, ("SELECT id FROM TraceShot" + listOrder_).c_str());
  while (s.step()) ids.push_back(s.int64(0));
  return s.resultCode() == SQLITE_DONE || fail("");
}

TraceShotRef TraceDatabase::load(std::int64_t id) {
  error_.clear();
  SqliteStatement s(db_, ("SELECT " + selectColumns_ + " FROM TraceShot WHERE id = ?").c_str());
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
  std::string sql =
      "INSERT INTO TraceShot (selected, visible, zOrder, colorIndex, coherenceThreshold, name, "
      "comment, filepath, uuid, colorData, coherenceData, magnitudeData, phaseData, dateCreated, "
      "dateModified";
  std::string values = "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?";
  if (extrasPresent_) {
    for (const auto& added : columns::kAdded) {
      sql += ", ";
      sql += added.name;
      values += ", ?";
    }
  }
  sql += ") VALUES (" + values + ")";
  SqliteStatement s(db_, sql.c_str());
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
  if (extrasPresent_) {
    if (shot.listOrder) s.bind(16, *shot.listOrder);
    s.bind(17, shot.offsetDb).bind(18, shot.offsetDelayMs).bind(19, shot.source);
    s.bind(20, shot.calibration);
  }
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

bool TraceDatabase::setOptionalInteger(std::int64_t id, const char* column,
                                       const std::optional<std::int64_t>& value) {
  if (value) return update(id, column, *value);
  SqliteStatement s(
      db_, (std::string("UPDATE TraceShot SET ") + column + " = NULL WHERE id = ?").c_str());
  s.bind(1, id);
  return s.run() || fail("");
}

bool TraceDatabase::setReal(std::int64_t id, const char* column, double value) {
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
  SqliteStatement s(db_,
                    (std::string("SELECT id FROM TraceShot WHERE ") + where + listOrder_).c_str());
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
  // Capture order, not list order: colours rotate in the order traces were taken.
  SqliteStatement s(
      db_,
      (std::string("SELECT colorIndex FROM TraceShot") + columns::kDateOrder + " LIMIT 1").c_str());
  if (s.step()) {
    *ok = true;
    return s.int64(0);
  }
  *ok = s.resultCode() == SQLITE_DONE || fail("");
  return std::nullopt;
}

bool TraceDatabase::colorsInUse(
    std::vector<std::pair<std::int64_t, std::optional<RGBAColor>>>& colors) {
  colors.clear();
  SqliteStatement s(db_, "SELECT colorIndex, colorData FROM TraceShot");
  while (s.step()) {
    TraceShot shot;
    shot.colorData = s.blob(1);
    colors.emplace_back(s.int64(0), shot.color());
  }
  return s.resultCode() == SQLITE_DONE || fail("");
}

bool TraceDatabase::dateInUse(std::int64_t micros, bool* ok) {
  SqliteStatement s(db_, "SELECT 1 FROM TraceShot WHERE dateCreated = ? LIMIT 1");
  s.bind(1, micros);
  const bool found = s.step();
  *ok = found || s.resultCode() == SQLITE_DONE || fail("");
  return found;
}

}  // namespace qv
