#pragma once
// The columns of the trace table, shared by the database's opening and its row reads and
// writes. Constants only.
#include <cstdint>

namespace qv::trace_columns {

// "QVTR": marks the file as ours, so another program's SQLite file is never mistaken for it.
inline constexpr std::int64_t kApplicationId = 0x51565452;

// Every build of schema 15 reads and writes these by name, and needs all of them.
inline constexpr const char* kBase[] = {"id",
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
inline constexpr int kBaseCount = 16;

// Added later, each with a default, so that a build that knows only the base columns still
// reads the table and inserts rows into it. A file not yet given them (opened read-only)
// reads `missing` in their place.
struct Added {
  const char* name;
  const char* declaration;
  const char* missing;
};
inline constexpr Added kAdded[] = {
    {"listOrder", "INTEGER", "NULL"},
    {"offsetDb", "REAL NOT NULL DEFAULT 0", "0"},
    {"offsetDelayMs", "REAL NOT NULL DEFAULT 0", "0"},
    {"source", "TEXT", "NULL"},
    {"calibration", "TEXT", "NULL"},
};

// Newest first by capture time; ties fall back to insertion order, so the order never wobbles.
inline constexpr const char* kDateOrder = " ORDER BY dateCreated DESC, id DESC";
// Traces never moved come first, newest first; then the moved ones in their places.
inline constexpr const char* kListOrder =
    " ORDER BY listOrder IS NOT NULL, listOrder, dateCreated DESC, id DESC";

}  // namespace qv::trace_columns
