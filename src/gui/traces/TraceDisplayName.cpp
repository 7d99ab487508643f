#include "gui/traces/TraceDisplayName.h"

#include <QLocale>
#include <chrono>

namespace qv::gui {
namespace {

std::chrono::microseconds::rep microsOf(const TraceShot& shot) {
  return shot.dateCreated ? shot.dateCreated->time_since_epoch().count()
                          : std::chrono::microseconds::rep{0};
}

// Made before `b`: earlier capture time; the row id settles equal times.
bool madeBefore(const TraceShot& a, const TraceShot& b) {
  const auto ta = microsOf(a);
  const auto tb = microsOf(b);
  return ta != tb ? ta < tb : a.id < b.id;
}

template <typename List>
int numberAmong(const TraceShot& shot, const List& all) {
  int before = 0;
  bool found = false;
  for (const auto& other : all) {
    if (other->id == shot.id) {
      found = true;
    } else if (madeBefore(*other, shot)) {
      ++before;
    }
  }
  return found ? before + 1 : 0;
}

}  // namespace

bool TraceDisplayName::isUnnamed(const TraceShot& shot) { return !shot.name || shot.name->empty(); }

int TraceDisplayName::creationNumber(const TraceShot& shot, const TraceShotResults& all) {
  return numberAmong(shot, all);
}

int TraceDisplayName::creationNumber(const TraceShot& shot, const std::vector<TraceShotRef>& all) {
  return numberAmong(shot, all);
}

QString TraceDisplayName::shortTime(const TraceDate& date, const QDateTime& now) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch());
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms.count()).toLocalTime();
  // Month names in English like every other text of the program, whatever the locale.
  const QLocale english(QLocale::English);
  QString time = english.toString(local.time(), QStringLiteral("HH:mm"));
  if (local.date() == now.toLocalTime().date()) return time;
  return english.toString(local.date(), QStringLiteral("d MMM")) + QLatin1Char(' ') + time;
}

QString TraceDisplayName::title(const TraceShot& shot, int number, const QDateTime& now) {
  if (isUnnamed(shot)) return QStringLiteral("Unnamed");
  QString name = QString::fromStdString(*shot.name);
  if (*shot.name != kCaptureName || number <= 0) return name;
  QString text = name + QLatin1Char(' ') + QString::number(number);
  if (shot.dateCreated) text += QStringLiteral(" \u2014 ") + shortTime(*shot.dateCreated, now);
  return text;
}

QString TraceDisplayName::titleInList(const TraceShot& shot, const TraceShotResults& all,
                                      const QDateTime& now) {
  return title(shot, creationNumber(shot, all), now);
}

}  // namespace qv::gui
