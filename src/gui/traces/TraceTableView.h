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
};

}  // namespace qv::gui
