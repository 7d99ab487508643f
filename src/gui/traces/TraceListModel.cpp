#include "gui/traces/TraceListModel.h"

#include <QColor>

#include "gui/traces/TraceCommentText.h"
#include "gui/traces/TraceDisplayName.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

// Consecutive rows as [first, last] runs, in the order given.
std::vector<std::pair<int, int>> runsOf(const std::vector<std::size_t>& rows) {
  std::vector<std::pair<int, int>> runs;
  for (std::size_t row : rows) {
    const int r = static_cast<int>(row);
    if (!runs.empty() && runs.back().second + 1 == r) {
      runs.back().second = r;
    } else {
      runs.emplace_back(r, r);
    }
  }
  return runs;
}

bool strictlyAscending(const std::vector<std::size_t>& rows) {
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i] <= rows[i - 1]) return false;
  }
  return true;
}

}  // namespace

TraceListModel::TraceListModel(TraceManager& traceManager, QObject* parent)
    : QAbstractListModel(parent), traceManager_(traceManager) {
  // The mirror starts from the list the first notification will carry, so that first
  // notification has nothing to apply and every later change set fits the mirror.
  const TraceShotResults current = traceManager_.allTraceShots();
  rows_.assign(current.begin(), current.end());
  realmNotificationToken_ = traceManager_.addNotificationBlock(
      [this](const TraceShotResults& results, const std::optional<TraceChangeSet>& changes,
             const std::optional<std::string>& error) {
        applyNotification(results, changes, error);
      });
}

TraceListModel::~TraceListModel() { realmNotificationToken_.stop(); }

int TraceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TraceListModel::data(const QModelIndex& index, int role) const {
  const TraceShotRef shot = shotAt(index.row());
  if (!shot || index.column() != 0) return {};
  switch (role) {
    case Qt::DisplayRole:
      return titleForRow(index.row());
    case Qt::EditRole:
      return QString::fromStdString(shot->name.value_or(std::string()));
    case Qt::ToolTipRole:
      return shot->comment && !shot->comment->empty()
                 ? QVariant(TraceCommentText::readable(*shot->comment, displayInterval_))
                 : QVariant();
    case Qt::DecorationRole: {
      const auto color = traceManager_.colorForShot(*shot);
      return color ? QColor::fromRgbF(color->red, color->green, color->blue, color->alpha)
                   : QColor(Qt::white);
    }
    default:
      return {};
  }
}

TraceShotRef TraceListModel::shotAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return rows_[static_cast<std::size_t>(row)];
}

int TraceListModel::rowForId(std::int64_t id) const {
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row]->id == id) return static_cast<int>(row);
  }
  return -1;
}

QString TraceListModel::titleForRow(int row) const {
  const TraceShotRef shot = shotAt(row);
  if (!shot) return {};
  // Numbered among the rows shown, so the numbers always agree with the list.
  return TraceDisplayName::title(*shot, TraceDisplayName::creationNumber(*shot, rows_));
}

void TraceListModel::setChangesWillApplyCallback(std::function<void()> callback) {
  changesWillApply_ = std::move(callback);
}

void TraceListModel::setChangesAppliedCallback(std::function<void()> callback) {
  changesApplied_ = std::move(callback);
}

void TraceListModel::applyNotification(const TraceShotResults& results,
                                       const std::optional<TraceChangeSet>& changes,
                                       const std::optional<std::string>& error) {
  if (error) {
    qv::log("Error while receiving Realm change notification: %s", error->c_str());
    return;
  }
  if (!changes) return;
  if (changesWillApply_) changesWillApply_();
  if (!applyChangeSet(results, *changes)) {
    // Cannot happen with a consistent store; if it does, showing the truth beats
    // showing a list that no longer matches the rows the user acts on.
    qv::log("Trace list: a change set did not fit the list; reloading it");
    resetTo(results);
  }
  if (changesApplied_) changesApplied_();
}

bool TraceListModel::applyChangeSet(const TraceShotResults& results,
                                    const TraceChangeSet& changes) {
  if (!strictlyAscending(changes.deletions) || !strictlyAscending(changes.insertions) ||
      (!changes.deletions.empty() && changes.deletions.back() >= rows_.size()) ||
      rows_.size() - changes.deletions.size() + changes.insertions.size() != results.count() ||
      (!changes.modifications.empty() && changes.modifications.back() >= results.count())) {
    return false;
  }
  // Deletions name old rows: remove from the bottom up so the rows above keep their numbers.
  const auto deletions = runsOf(changes.deletions);
  for (auto run = deletions.rbegin(); run != deletions.rend(); ++run) {
    beginRemoveRows(QModelIndex(), run->first, run->second);
    rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
    endRemoveRows();
  }
  // Insertions name new rows: top down, each lands where it ends up.
  for (const auto& [first, last] : runsOf(changes.insertions)) {
    if (static_cast<std::size_t>(first) > rows_.size()) return false;
    beginInsertRows(QModelIndex(), first, last);
    rows_.insert(rows_.begin() + first, results.begin() + first, results.begin() + last + 1);
    endInsertRows();
  }
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row]->id != results[row].id) return false;
  }
  rows_.assign(results.begin(), results.end());
  for (const auto& [first, last] : runsOf(changes.modifications)) {
    emit dataChanged(index(first), index(last));
  }
  return true;
}

void TraceListModel::resetTo(const TraceShotResults& results) {
  beginResetModel();
  rows_.assign(results.begin(), results.end());
  endResetModel();
}

}  // namespace qv::gui
