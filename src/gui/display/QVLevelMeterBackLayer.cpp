#include "gui/display/QVLevelMeterBackLayer.h"

#include <QColor>
#include <QPen>
#include <cmath>

#include "gui/Theme.h"

namespace qv::gui {

double QVLevelMeterBackLayer::rowY(int32_t channel, int32_t channelCount, double height) {
  const int32_t fromMiddle = channel - channelCount / 2;  // whole rows either side of the middle
  return std::floor(2.0 * height / 3.0 + fromMiddle * height / 4.0);
}

double QVLevelMeterBackLayer::xForLevel(double level, double width) {
  // The 0.001 keeps silence at the left edge instead of minus infinity.
  return (std::log10(level + 0.001) + 3.0) / 3.0 * width;
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
  painter.restore();
}

}  // namespace qv::gui
