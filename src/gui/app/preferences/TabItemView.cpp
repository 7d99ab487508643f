#include "gui/app/preferences/TabItemView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

#include "gui/Theme.h"

namespace qv::gui {
namespace {

// Small line drawings, so the tabs need no image files.
QPixmap drawInputOutput(const QColor& ink) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  // A microphone on the left, a loudspeaker cone on the right.
  p.drawRoundedRect(QRectF(5, 5, 7, 13), 3.5, 3.5);
  p.drawArc(QRectF(3, 10, 11, 11), 180 * 16, 180 * 16);
  p.drawLine(QPointF(8.5, 21), QPointF(8.5, 26));
  QPainterPath cone;
  cone.moveTo(18, 13);
  cone.lineTo(21, 13);
  cone.lineTo(27, 7);
  cone.lineTo(27, 25);
  cone.lineTo(21, 19);
  cone.lineTo(18, 19);
  cone.closeSubpath();
  p.drawPath(cone);
  return pm;
}

QPixmap drawGeneral(const QColor& ink) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
  // Three sliders.
  const double knobs[3] = {11, 21, 15};
  for (int i = 0; i < 3; ++i) {
    const double y = 8 + i * 8;
    p.drawLine(QPointF(5, y), QPointF(27, y));
    p.setBrush(ink);
    p.drawEllipse(QPointF(knobs[i], y), 2.6, 2.6);
    p.setBrush(Qt::NoBrush);
  }
  return pm;
}

}  // namespace

TabItemView::TabItemView(QWidget* parent) : QToolButton(parent) {
  setCheckable(true);
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  setIconSize(QSize(18, 18));
  setFocusPolicy(Qt::NoFocus);
  setMinimumSize(kWidth, kHeight);
  setStyleSheet(
      QStringLiteral(
          "QToolButton { color: %1; border: none; border-radius: 5px; padding: 3px 10px; }"
          "QToolButton:checked { background: %2; color: white; }"
          "QToolButton:hover:!checked { background: rgba(255,255,255,20); }")
          .arg(theme::kText.name(), theme::kPrefsTabOn.name()));
}

TabItemView::~TabItemView() = default;

void TabItemView::setTitle(const QString& title) {
  setText(title);
  setToolTip(title);
}

void TabItemView::setImageNamed(const QString& name) { setIcon(imageNamed(name)); }

QIcon TabItemView::imageNamed(const QString& name) {
  const QColor ink = theme::kText;
  if (name == QLatin1String("input / output")) return QIcon(drawInputOutput(ink));
  if (name == QLatin1String("general")) return QIcon(drawGeneral(ink));
  return {};
}

}  // namespace qv::gui
