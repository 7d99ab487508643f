#pragma once
// The trace list as a Qt model: a mirror of the store's list that changes only by the
// store's change sets, row by row (deletions, then insertions, then modified rows), so a
// view keeps its selection, scroll position and row widgets across captures and deletes.
// Main thread only; change sets arrive on the main queue.
#include <QAbstractListModel>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "traces/TraceManager.h"

namespace qv::gui {

class TraceListModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  // The store must outlive the model.
  explicit TraceListModel(TraceManager& traceManager, QObject* parent = nullptr);
  ~TraceListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // DisplayRole: the title a row shows (TraceDisplayName); ToolTipRole: the capture
  // comment in words (TraceCommentText).
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // The trace shown in `row`, or nullptr outside the list.
  TraceShotRef shotAt(int row) const;
  // The row showing the trace with this row id, or -1.
  int rowForId(std::int64_t id) const;
  // The title of the trace in `row`, numbered among the list's traces; "" outside the list.
  QString titleForRow(int row) const;
  // Seconds between display updates, which the averaging's time in the tooltips depends on.
  void setDisplayInterval(double seconds) { displayInterval_ = seconds; }
  double displayInterval() const { return displayInterval_; }

  // Run around each change set: before the first row changes and after the last (a view
  // uses them to keep its own reactions to removed rows out of the store).
  void setChangesWillApplyCallback(std::function<void()> callback);
  void setChangesAppliedCallback(std::function<void()> callback);

  // The store's notification callback, public so that tests can feed it directly.
  void applyNotification(const TraceShotResults& results,
                         const std::optional<TraceChangeSet>& changes,
                         const std::optional<std::string>& error);

 private:
  // False when the change set does not lead from the mirror to `results`.
  bool applyChangeSet(const TraceShotResults& results, const TraceChangeSet& changes);
  void resetTo(const TraceShotResults& results);

  TraceManager& traceManager_;
  std::vector<TraceShotRef> rows_;
  TraceNotificationToken realmNotificationToken_;
  std::function<void()> changesWillApply_;
  std::function<void()> changesApplied_;
  double displayInterval_ = 1.0 / 30.0;
};

}  // namespace qv::gui
