#include "gui/display/QVLevelMeterUpdateLayer.h"

#include <QPen>
#include <algorithm>

#include "gui/Theme.h"
#include "gui/display/QVLevelMeterBackLayer.h"

// Qt defines `emit` as a macro; the audio library has a method of that name.
#pragma push_macro("emit")
#undef emit
#include "audio/BassLevelReader.h"
#pragma pop_macro("emit")

namespace qv::gui {

void QVLevelMeterUpdateLayer::drawInContext(QPainter& painter, QSizeF size) const {
  if (!levelReader_) return;
  drawLevels(painter, size, levelReader_->levels(), levelReader_->count());
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
    double x = QVLevelMeterBackLayer::xForLevel(levels[i], w);
    if (!(x > 0.0)) x = 0.0;  // also a level that is not a number
    x = std::min(x, w);
    painter.drawLine(QPointF(x, y), QPointF(w, y));
  }
  painter.restore();
}

}  // namespace qv::gui
