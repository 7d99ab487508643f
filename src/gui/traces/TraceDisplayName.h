#pragma once
// What the panel, its menu and the capture message call a trace. A capture still named "TF"
// (the stored name, which other readers of the database rely on) reads "TF 3 — 14:02": its
// place among the store's traces in the order they were made, and its local capture time,
// with the day when it is not today. A renamed trace shows its own name; a trace without a
// name shows "Unnamed", drawn dim. Pure functions; main thread (local time zone).
#include <QDateTime>
#include <QString>
#include <vector>

#include "traces/TraceManager.h"

namespace qv::gui {

class TraceDisplayName {
 public:
  // The name every capture is stored under.
  static constexpr const char* kCaptureName = "TF";

  // True when the trace has no name to show (none, or an empty one).
  static bool isUnnamed(const TraceShot& shot);
  // 1-based place of `shot` among `all` in creation order (by capture time, then row id);
  // 0 when it is not among them.
  static int creationNumber(const TraceShot& shot, const TraceShotResults& all);
  static int creationNumber(const TraceShot& shot, const std::vector<TraceShotRef>& all);
  // "14:02" on `now`'s day, "7 Dec 14:02" on another day.
  static QString shortTime(const TraceDate& date, const QDateTime& now);
  // The title for a trace numbered `number` (0: no number known).
  static QString title(const TraceShot& shot, int number,
                       const QDateTime& now = QDateTime::currentDateTime());
  // The title, numbered among the store's traces.
  static QString titleInList(const TraceShot& shot, const TraceShotResults& all,
                             const QDateTime& now = QDateTime::currentDateTime());
};

}  // namespace qv::gui
