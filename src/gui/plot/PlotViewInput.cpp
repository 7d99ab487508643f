// Pointer input of the plot view: hover moves the cursor, a held button drags the
// curves, the wheel zooms around the pointer, a double-click goes back to the start.
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "gui/plot/PlotView.h"
#include "gui/plot/PlotViewState.h"

namespace qv::gui {
namespace {

// A press moves this far (logical pixels) before it becomes a pan.
constexpr double kPanThreshold = 3.0;
// The narrowest visible range, as a part of the full range.
constexpr double kMinimumZoom = 1e-4;
// One wheel notch (120 units) scales the visible range by this much.
constexpr double kZoomPerNotch = 0.85;

// Keeps the size of `r` where it can and moves it inside `limit`.
PlotRange clampInside(PlotRange r, PlotRange limit) {
  const double fullSpan = limit.max - limit.min;
  double span = r.max - r.min;
  if (!(fullSpan > 0.0)) return limit;
  if (!(span > 0.0) || !std::isfinite(span)) return limit;
  if (span >= fullSpan) return limit;
  const double minimum = fullSpan * kMinimumZoom;
  if (span < minimum) {
    const double centre = (r.min + r.max) / 2.0;
    r = {centre - minimum / 2.0, centre + minimum / 2.0};
    span = minimum;
  }
  if (r.min < limit.min) r = {limit.min, limit.min + span};
  if (r.max > limit.max) r = {limit.max - span, limit.max};
  return r;
}

}  // namespace

void PlotView::moveCursorTo(int phase, QPointF widgetPoint) {
  const QPointF value = valueForWidgetPoint(widgetPoint);
  QPointF where = value;
  if (PlotViewDelegate* delegate = d_->delegate) {
    switch (phase) {
      case kCursorTrackingStarted:
        where = delegate->plotViewCursorTrackingStarted(this, value);
        break;
      case kCursorTrackingFinished:
        where = delegate->plotViewCursorTrackingFinished(this, value);
        break;
      default:
        where = delegate->plotViewCursorMoved(this, value);
        break;
    }
  }
  if (d_->look.hasCursor) setCursorPosition(where);
}

void PlotView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !chartRect().contains(event->position())) {
    QWidget::mousePressEvent(event);
    return;
  }
  d_->drag = Impl::Drag::Pressed;
  d_->pressPoint = event->position();
  d_->pressX = d_->look.visibleX;
  d_->pressY = d_->look.visibleY;
  d_->tracking = true;
  moveCursorTo(kCursorTrackingStarted, event->position());
  event->accept();
}

void PlotView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  if (d_->drag != Impl::Drag::None && (event->buttons() & Qt::LeftButton)) {
    // A held button drags the curves; the cursor stays where the press put it.
    if (d_->drag == Impl::Drag::Pressed) {
      if ((pos - d_->pressPoint).manhattanLength() < kPanThreshold) return;
      d_->drag = Impl::Drag::Panning;
    }
    panBy(pos - d_->pressPoint);
    event->accept();
    return;
  }
  if (chartRect().contains(pos)) moveCursorTo(kCursorMoved, pos);
}

void PlotView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  d_->drag = Impl::Drag::None;
  if (d_->tracking) {
    d_->tracking = false;
    moveCursorTo(kCursorTrackingFinished, event->position());
  }
  event->accept();
}

void PlotView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !chartRect().contains(event->position())) {
    QWidget::mouseDoubleClickEvent(event);
    return;
  }
  d_->drag = Impl::Drag::None;
  PlotLook& look = d_->look;
  look.visibleX = d_->visibleRangeSet ? d_->startX : look.fullX;
  look.visibleY = d_->visibleRangeSet ? d_->startY : look.fullY;
  update();
  if (d_->delegate) d_->delegate->plotViewZoomedIsHorizontal(this, true);
  event->accept();
}

void PlotView::wheelEvent(QWheelEvent* event) {
  const QPointF pos = event->position();
  if (!chartRect().contains(pos)) {
    event->ignore();
    return;
  }
  // Some platforms turn a shifted wheel into a horizontal one: either way it is a notch.
  const bool horizontal = event->modifiers().testFlag(Qt::ShiftModifier);
  int delta = event->angleDelta().y();
  if (delta == 0) delta = event->angleDelta().x();
  event->accept();
  if (delta == 0) return;
  const double factor = std::pow(kZoomPerNotch, delta / 120.0);
  const QPointF anchor = valueForWidgetPoint(pos);
  PlotLook& look = d_->look;
  PlotRange& range = horizontal ? look.visibleX : look.visibleY;
  const double at = horizontal ? anchor.x() : anchor.y();
  const PlotRange zoomed = limited({at - (at - range.min) * factor, at + (range.max - at) * factor},
                                   horizontal ? look.fullX : look.fullY);
  if (zoomed == range) return;
  range = zoomed;
  update();
  if (d_->delegate) d_->delegate->plotViewZoomedIsHorizontal(this, horizontal);
}

void PlotView::leaveEvent(QEvent* event) {
  // The cursor stays where it was last put, so the read-out and the cross-hair agree.
  QWidget::leaveEvent(event);
}

PlotRange PlotView::limited(PlotRange range, PlotRange limit) const {
  if (d_->fullRangeSet) return clampInside(range, limit);
  // No limit was given: anything goes that still shows a range.
  return range.max > range.min && std::isfinite(range.max - range.min) ? range : PlotRange{};
}

void PlotView::panBy(QPointF offset) {
  const QRectF r = chartRect();
  if (r.width() <= 0 || r.height() <= 0) return;
  PlotLook& look = d_->look;
  const double dx = offset.x() / r.width() * (d_->pressX.max - d_->pressX.min);
  const double dy = offset.y() / r.height() * (d_->pressY.max - d_->pressY.min);
  const PlotRange x = limited({d_->pressX.min - dx, d_->pressX.max - dx}, look.fullX);
  const PlotRange y = limited({d_->pressY.min + dy, d_->pressY.max + dy}, look.fullY);
  if (x == look.visibleX && y == look.visibleY) return;
  look.visibleX = x;
  look.visibleY = y;
  update();
  if (d_->delegate) d_->delegate->plotViewPanned(this);
}

}  // namespace qv::gui
