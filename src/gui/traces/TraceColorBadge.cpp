#include "gui/traces/TraceColorBadge.h"

#include <QPainter>

#include "gui/Theme.h"

namespace qv::gui {

TraceColorBadge::TraceColorBadge(QWidget* parent) : QWidget(parent) {
  setFixedSize(theme::kTraceBadgeSize, theme::kTraceBadgeSize);
  // Clicks on the badge select the row.
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TraceColorBadge::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TraceColorBadge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(color_);
  p.drawRoundedRect(QRectF(rect()), 2.0, 2.0);
}

}  // namespace qv::gui
