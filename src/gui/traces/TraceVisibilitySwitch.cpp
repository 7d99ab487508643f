#include "gui/traces/TraceVisibilitySwitch.h"

#include <QMouseEvent>
#include <QPainter>

#include "gui/Theme.h"

namespace qv::gui {

TraceVisibilitySwitch::TraceVisibilitySwitch(QWidget* parent) : QWidget(parent) {
  setFixedSize(sizeHint());
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

QSize TraceVisibilitySwitch::sizeHint() const {
  return {theme::kTraceSwitchWidth, theme::kTraceSwitchHeight};
}

void TraceVisibilitySwitch::setChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  update();
}

void TraceVisibilitySwitch::setTint(const QColor& tint) {
  if (tint == tint_) return;
  tint_ = tint;
  update();
}

void TraceVisibilitySwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = track.height() / 2.0;
  p.setPen(Qt::NoPen);
  p.setBrush(checked_ ? tint_ : theme::kTraceSwitchOff);
  p.drawRoundedRect(track, radius, radius);

  const qreal inset = 2.0;
  const qreal knob = track.height() - 2 * inset;
  const qreal x = checked_ ? track.right() - inset - knob : track.left() + inset;
  // A thin dark ring keeps the knob visible on light trace colours.
  p.setPen(QPen(QColor(0, 0, 0, 90), 0.8));
  p.setBrush(pressed_ ? theme::kTraceSwitchKnob.darker(115) : theme::kTraceSwitchKnob);
  p.drawEllipse(QRectF(x, track.top() + inset, knob, knob));
}

void TraceVisibilitySwitch::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  pressed_ = true;
  update();
}

void TraceVisibilitySwitch::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) {
    event->ignore();
    return;
  }
  pressed_ = false;
  update();
  if (rect().contains(event->position().toPoint()) && onToggle_) {
    onToggle_(!checked_, event->modifiers());
  }
}

}  // namespace qv::gui
