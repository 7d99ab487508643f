#pragma once
// A label that acts as a button: a left click reports `clicked`, and the pointer shows a
// hand while it is over the text. Main thread only.
#include <QLabel>

namespace qv::gui {

class QVClickableLabel : public QLabel {
  Q_OBJECT

 public:
  explicit QVClickableLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace qv::gui
