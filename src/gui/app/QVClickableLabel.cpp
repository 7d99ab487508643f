#include "gui/app/QVClickableLabel.h"

#include <QMouseEvent>

namespace qv::gui {

QVClickableLabel::QVClickableLabel(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
}

void QVClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  // Only a release inside the label counts, like a button: dragging off cancels.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
    event->accept();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace qv::gui
