#include "gui/display/QVLevelMeterUpdateLayer.h"

#include <QPen>
#include <algorithm>

#include "audio/BassLevelReader.h"
#include "gui/Theme.h"
#include "gui/display/QVLevelMeterBackLayer.h"

namespace qv::gui {

void QVLevelMeterUpdateLayer::drawInContext(QPainter& painter, QSizeF size) const {
  if (!levelReader_) return;
  drawLevels(painter, size, levelReader_->levels(), levelReader_->count());
}

double QVLevelMeterUpdateLayer::coverStart(float level, double width) {
  const double x = QVLevelMeterBackLayer::xForLevel(level, width);
  if (!(x > 0.0)) return 0.0;  // also a level that is not a number
  return std::min(x, width);
}

void QVLevelMeterUpdateLayer::drawLevels(QPainter& painter, QSizeF size, const float* levels,
                                         int32_t count) const {
  if (!levels || count <= 0) return;
  const int32_t rows = std::min(count, channelCount_);
  const double w = size.width();
  QPen pen(theme::kMeterCover, lineWidth_);
  pen.setCapStyle(Qt::FlatCap);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  // Plain source-over: the cover is its own layer over the scale, so the dark half of the
  // scale shows through at half strength.
  painter.setPen(pen);
  for (int32_t i = rows - 1; i >= 0; --i) {
    const double y = QVLevelMeterBackLayer::rowY(i, channelCount_, size.height());
    const double x = coverStart(levels[i], w);
    painter.drawLine(QPointF(x, y), QPointF(w, y));
  }
  painter.restore();
}

}  // namespace qv::gui
