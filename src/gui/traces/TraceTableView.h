#pragma once
// The list of trace rows: single selection, fixed row height, and a click on empty space
// below the rows clears the selection. Main thread only.
#include <QListView>

namespace qv::gui {

class TraceTableView final : public QListView {
  Q_OBJECT

 public:
  explicit TraceTableView(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  // Rows are as wide as the list shows them: narrower when the scroll bar comes, so the
  // row's switch is never under it.
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace qv::gui
