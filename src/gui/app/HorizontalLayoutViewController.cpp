#include "gui/app/HorizontalLayoutViewController.h"

#include <QResizeEvent>
#include <algorithm>

namespace qv::gui {

HorizontalLayoutViewController::HorizontalLayoutViewController(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("HorizontalLayoutViewController"));
}

HorizontalLayoutViewController::~HorizontalLayoutViewController() {
  // The right view belongs to its coordinator, which may outlive this view.
  if (rightView_) rightView_->setParent(nullptr);
}

void HorizontalLayoutViewController::setCenterView(QWidget* view) {
  if (view == centerView_) return;
  if (centerView_) centerView_->hide();
  centerView_ = view;
  if (view) {
    view->setParent(this);
    view->show();
  }
  updateGeometry();
  viewDidLayout();
}

void HorizontalLayoutViewController::setRightView(QWidget* view) {
  if (view == rightView_) return;
  if (view) {
    view->setParent(this);
    view->show();
  } else if (rightView_) {
    rightView_->hide();
    rightView_->setParent(nullptr);
  }
  rightView_ = view;
  updateGeometry();
  viewDidLayout();
}

QSize HorizontalLayoutViewController::minimumSizeHint() const {
  QSize size = centerView_ ? centerView_->minimumSizeHint() : QSize(0, 0);
  if (rightView_) size.rwidth() += kRightViewWidth;
  return size;
}

void HorizontalLayoutViewController::viewDidLayout() {
  const QRect b = rect();
  if (rightView_) {
    const int w = b.width();
    // A window narrower than the panel squeezes the centre to nothing, never below.
    if (centerView_)
      centerView_->setGeometry(b.x(), b.y(), std::max(0, w - kRightViewWidth), b.height());
    rightView_->setGeometry(w - kRightViewWidth, b.y(), kRightViewWidth, b.height());
  } else if (centerView_) {
    centerView_->setGeometry(b);
  }
}

bool HorizontalLayoutViewController::event(QEvent* event) {
  // Read-outs re-lay the centre out at every tick; the window only hears of a new size.
  if (event->type() == QEvent::LayoutRequest && minimumSizeHint() != lastMinimum_) {
    lastMinimum_ = minimumSizeHint();
    updateGeometry();
    viewDidLayout();
  }
  return QWidget::event(event);
}

void HorizontalLayoutViewController::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  viewDidLayout();
}

}  // namespace qv::gui
