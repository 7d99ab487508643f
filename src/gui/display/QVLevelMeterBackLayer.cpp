#include "gui/display/QVLevelMeterBackLayer.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "gui/Theme.h"

namespace qv::gui {
namespace {

constexpr double kTickLength = 3.0;
constexpr double kLabelGap = 1.0;  // between a tick and its label

}  // namespace

const std::vector<QVLevelMeterBackLayer::ScaleMark>& QVLevelMeterBackLayer::scaleMarks() {
  // The top of the scale is crowded (−6 and −3 dB lie a few pixels from −10 and 0): ticks
  // only there.
  static const std::vector<ScaleMark> marks = {{-60, true},  {-50, false}, {-40, true},
                                               {-30, false}, {-20, true},  {-10, true},
                                               {-6, false},  {-3, false},  {0, true}};
  return marks;
}

double QVLevelMeterBackLayer::rowY(int32_t channel, int32_t channelCount, double height) {
  const int32_t fromMiddle = channel - channelCount / 2;  // whole rows either side of the middle
  return std::floor(2.0 * height / 3.0 + fromMiddle * height / 4.0);
}

double QVLevelMeterBackLayer::xForLevel(double level, double width) {
  // The 0.001 keeps silence at the left edge instead of minus infinity.
  return (std::log10(level + 0.001) + 3.0) / 3.0 * width;
}

double QVLevelMeterBackLayer::xForDb(double db, double width) {
  return std::min(width, xForLevel(std::pow(10.0, db / 20.0), width));
}

QString QVLevelMeterBackLayer::labelText(double db) {
  const long whole = std::lround(db);
  return whole < 0 ? QStringLiteral("\u2212%1").arg(-whole) : QString::number(whole);
}

QFont QVLevelMeterBackLayer::scaleFont() const {
  QFont font;
  font.setPixelSize(theme::kMeterScalePixelSize);
  return font;
}

double QVLevelMeterBackLayer::scaleTop(QSizeF size) const {
  return rowY(channelCount_ - 1, channelCount_, size.height()) + lineWidth_ / 2.0 + 1.0;
}

std::vector<QRectF> QVLevelMeterBackLayer::labelRects(QSizeF size) const {
  std::vector<QRectF> rects;
  const QFontMetricsF metrics(scaleFont());
  const double top = scaleTop(size) + kTickLength + kLabelGap;
  if (channelCount_ <= 0 || top + metrics.ascent() > size.height()) return rects;
  for (const ScaleMark& mark : scaleMarks()) {
    if (!mark.labelled) continue;
    const QString text = labelText(mark.db);
    const double w = metrics.horizontalAdvance(text);
    // Centred on its tick, kept inside the meter at both ends.
    const double x =
        std::clamp(xForDb(mark.db, size.width()) - w / 2.0, 0.0, std::max(0.0, size.width() - w));
    rects.emplace_back(x, top, w, metrics.height());
  }
  return rects;
}

void QVLevelMeterBackLayer::drawInContext(QPainter& painter, QSizeF size) const {
  struct Segment {
    double from;
    double to;
    QColor color;
  };
  // -60..-24 dB green, -24..-12 dB yellow, -12..0 dB red.
  const Segment segments[] = {{0.0, 0.6, theme::kMeterGreen},
                              {0.6, 0.8, theme::kMeterYellow},
                              {0.8, 1.0, theme::kMeterRed}};
  const double w = size.width();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (int32_t i = 0; i < channelCount_; ++i) {
    const double y = rowY(i, channelCount_, size.height());
    for (const Segment& s : segments) {
      QPen pen(s.color, lineWidth_);
      pen.setCapStyle(Qt::FlatCap);
      painter.setPen(pen);
      painter.drawLine(QPointF(s.from * w, y), QPointF(s.to * w, y));
    }
  }
  drawScale(painter, size);
  painter.restore();
}

void QVLevelMeterBackLayer::drawScale(QPainter& painter, QSizeF size) const {
  if (channelCount_ <= 0) return;
  const double w = size.width();
  const double top = scaleTop(size);
  painter.setPen(QPen(theme::kMeterScale, 1.0));
  for (const ScaleMark& mark : scaleMarks()) {
    // Inside the meter: the 0 dB tick's pixel column is the last one.
    const double x = std::min(std::floor(xForDb(mark.db, w)) + 0.5, w - 0.5);
    painter.drawLine(QPointF(x, top), QPointF(x, top + (mark.labelled ? kTickLength : 2.0)));
  }
  const std::vector<QRectF> rects = labelRects(size);
  if (rects.empty()) return;
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(scaleFont());
  std::size_t i = 0;
  for (const ScaleMark& mark : scaleMarks()) {
    if (!mark.labelled) continue;
    painter.drawText(rects[i++], Qt::AlignLeft | Qt::AlignTop, labelText(mark.db));
  }
}

}  // namespace qv::gui
