#include "gui/plot/PlotPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

namespace qv::gui {
namespace {

constexpr double kLabelPad = 4.0;  // logical pixels between a label and what it names
constexpr int kTick = 4;           // logical length of a scale's tick outside the chart area
constexpr double kMaxGridLines = 4000;

uint32_t pixelOf(const QColor& c) {
  return premultipliedPixel(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                            static_cast<uint8_t>(c.blue()), static_cast<uint8_t>(c.alpha()));
}

// Grid line indices k (lines at origin + k·step) inside [from, to]; false when there is
// no usable grid.
bool gridIndices(double origin, double step, double from, double to, long& first, long& last) {
  if (!(step > 0.0) || !(to >= from)) return false;
  const double a = std::ceil((from - origin) / step - 1e-9);
  const double b = std::floor((to - origin) / step + 1e-9);
  if (!(b >= a) || b - a > kMaxGridLines) return false;
  first = static_cast<long>(a);
  last = static_cast<long>(b);
  return true;
}

// The fewest decimals (up to 4) that show multiples of `step` exactly.
int decimalsFor(double step) {
  if (!(step > 0.0)) return 0;
  double scaled = step;
  for (int d = 0; d < 4; ++d, scaled *= 10.0) {
    if (std::abs(scaled - std::round(scaled)) < 1e-4 * std::max(1.0, scaled)) return d;
  }
  return 4;
}

}  // namespace

QString PlotPainter::yLabelText(double value, double step) {
  if (step > 0.0 && std::abs(value) < step * 1e-6) value = 0.0;  // never "-0"
  return QString::number(value, 'f', decimalsFor(step));
}

const QFont& PlotPainter::scaleFont(const PlotLook& look) {
  if (look.fontSize != fontPixels_) {
    fontPixels_ = look.fontSize;
    font_ = QFont();
    // The scale is sized in logical pixels, so it looks the same on every screen density.
    font_.setPixelSize(std::max(1, static_cast<int>(std::lround(look.fontSize))));
    const QFontMetricsF fm(font_);
    lineHeight_ = fm.height();
    ascent_ = fm.ascent();
    widthStep_ = -1.0;
    yLabels_.clear();
    for (SideLabels& side : xLabels_) side.source.clear();
  }
  return font_;
}

double PlotPainter::yLabelWidth(const PlotLook& look) {
  scaleFont(look);
  if (look.fullY == widthRange_ && look.gridStepY == widthStep_) return yLabelWidth_;
  widthRange_ = look.fullY;
  widthStep_ = look.gridStepY;
  const QFontMetricsF fm(font_);
  long first = 0;
  long last = 0;
  double width = fm.horizontalAdvance(QStringLiteral("-0"));
  if (gridIndices(0.0, look.gridStepY, look.fullY.min, look.fullY.max, first, last)) {
    for (long k : {first, last}) {
      width = std::max(width, fm.horizontalAdvance(yLabelText(k * look.gridStepY, look.gridStepY)));
    }
  }
  yLabelWidth_ = width;
  return width;
}

double PlotPainter::columnWidthNeeded(const PlotLook& look) {
  scaleFont(look);
  const QFontMetricsF fm(font_);
  double needed = 0.0;
  for (int side : {PlotSideLeft, PlotSideRight}) {
    const bool right = side == PlotSideRight;
    const double factor = right ? look.rightFactor : 1.0;
    PlotRange shown = look.fullY;
    if (right) {
      shown.min = std::max(shown.min, look.rightShown.min);
      shown.max = std::min(shown.max, look.rightShown.max);
    }
    double label = 0.0;
    long first = 0;
    long last = 0;
    // The widest labels are those at the ends of the range.
    if (gridIndices(0.0, look.gridStepY, shown.min, shown.max, first, last)) {
      for (long k : {first, last}) {
        label = std::max(label, fm.horizontalAdvance(yLabelText(k * look.gridStepY * factor,
                                                                look.gridStepY * factor)));
      }
    }
    const QString& unit = look.units[static_cast<size_t>(side)];
    const double unitWidth = unit.isEmpty() ? 0.0 : fm.horizontalAdvance(unit) + kLabelPad;
    needed = std::max(needed, label + unitWidth + 2 * kLabelPad);
  }
  return std::ceil(needed);
}

QRect PlotPainter::chartRect(const PlotLook& look, QSize size) {
  const QRect whole(QPoint(0, 0), size);
  if (look.overlaid && !labelsInColumns(look)) return whole;
  int margin[PlotSideCount] = {0, 0, 0, 0};
  if (labelsInColumns(look)) {
    scaleFont(look);
    // Both columns always, so that views stacked above one another share their x axis.
    margin[PlotSideLeft] = margin[PlotSideRight] = static_cast<int>(std::ceil(look.labelColumn));
    const int strip = static_cast<int>(std::ceil(lineHeight_ + kLabelPad));
    const bool yUnits = !look.units[PlotSideLeft].isEmpty() || !look.units[PlotSideRight].isEmpty();
    for (int side : {PlotSideBottom, PlotSideTop}) {
      const bool labelled = look.scaleVisible[static_cast<size_t>(side)] &&
                            look.labelsVisible[static_cast<size_t>(side)];
      // The y units sit in the top corners; elsewhere the outermost y labels need half a
      // line beyond the chart area.
      margin[side] = labelled || (side == PlotSideTop && yUnits)
                         ? strip
                         : static_cast<int>(std::ceil(lineHeight_ / 2.0 + kLabelPad / 2.0));
    }
    const int width = std::max(0, size.width() - margin[PlotSideLeft] - margin[PlotSideRight]);
    const int height = std::max(0, size.height() - margin[PlotSideTop] - margin[PlotSideBottom]);
    return QRect(margin[PlotSideLeft], margin[PlotSideTop], width, height);
  }
  for (int side = 0; side < PlotSideCount; ++side) {
    if (!look.scaleVisible[side]) continue;
    if (!look.labelsVisible[side]) {
      margin[side] = kTick;
    } else if (side == PlotSideLeft || side == PlotSideRight) {
      margin[side] = static_cast<int>(std::ceil(yLabelWidth(look) + 2 * kLabelPad));
    } else {
      scaleFont(look);
      margin[side] = static_cast<int>(std::ceil(lineHeight_ + kLabelPad));
    }
  }
  const int width = std::max(0, size.width() - margin[PlotSideLeft] - margin[PlotSideRight]);
  const int height = std::max(0, size.height() - margin[PlotSideTop] - margin[PlotSideBottom]);
  return QRect(margin[PlotSideLeft], margin[PlotSideTop], width, height);
}

void PlotPainter::lineSpan(double at, double thickness, double dpr, double& from, double& to) {
  const double pixels = std::max(1.0, std::round(thickness * dpr));
  from = std::floor(at - pixels / 2.0 + 0.5);
  to = from + pixels;
}

void PlotPainter::noteDrawn(const QRectF& r) {
  drawn_.mark(QRect(
      QPoint(static_cast<int>(std::floor(r.left())) - 1, static_cast<int>(std::floor(r.top())) - 1),
      QPoint(static_cast<int>(std::ceil(r.right())) + 1,
             static_cast<int>(std::ceil(r.bottom())) + 1)));
}

void PlotPainter::paint(QImage& image, const PlotLook& look, const plot::ChartList& charts,
                        bool holdsLastFrame) {
  if (image.isNull()) return;  // a view without area has nothing to show
  const double dpr = image.devicePixelRatio();
  const QSize logical(static_cast<int>(std::lround(image.width() / dpr)),
                      static_cast<int>(std::lround(image.height() / dpr)));
  const QRect chart = chartRect(look, logical);
  const bool columns = labelsInColumns(look);
  const QRect deviceChart = QRect(static_cast<int>(std::lround(chart.x() * dpr)),
                                  static_cast<int>(std::lround(chart.y() * dpr)),
                                  static_cast<int>(std::lround(chart.width() * dpr)),
                                  static_cast<int>(std::lround(chart.height() * dpr))) &
                            image.rect();

  PlotMapping m;
  m.deviceChart = QRectF(deviceChart);
  m.devicePixelRatio = dpr;
  const double spanX = look.visibleX.max - look.visibleX.min;
  const double spanY = look.visibleY.max - look.visibleY.min;
  m.xScale = spanX > 0.0 ? deviceChart.width() / spanX : 0.0;
  m.x0 = deviceChart.left() - m.xScale * look.visibleX.min;
  m.yScale = spanY > 0.0 ? -deviceChart.height() / spanY : 0.0;
  m.y0 = deviceChart.top() + deviceChart.height() - m.yScale * look.visibleY.min;
  m.colorMin = look.fullY.min;
  m.colorMax = look.fullY.max;

  // Take the pixels before a painter starts on the image: the painter then draws into
  // the very buffer the rasterizer writes.
  uchar* bits = image.bits();
  rasterizer_.begin(bits, image.bytesPerLine(), deviceChart);
  const size_t steady = staticLayer_.steadyCharts(charts);
  const bool kept = staticLayer_.holds(look, image, charts, steady);
  const bool sameFrame = holdsLastFrame && drawnKnown_ && bits == drawnBits_ &&
                         image.bytesPerLine() == drawnStride_ && image.size() == drawnSize_ &&
                         dpr == drawnRatio_;
  if (kept && sameFrame) {
    staticLayer_.restoreInto(image, drawn_);
  } else if (kept) {
    staticLayer_.copyInto(image);
  } else {
    // Labels in columns: the whole view is chart area, the grid and charts keep inside.
    image.fill(columns ? look.chartsBackground : look.background);
    rasterizer_.fillBlock(deviceChart, pixelOf(look.chartsBackground));
    paintGrid(look, m);
  }

  bool movingSpectrogram = false;
  for (size_t i = steady; i < charts.size(); ++i) {
    if (charts.charts()[i]->kind() == plot::kChartSpectrogram) movingSpectrogram = true;
  }
  // A painter costs allocations: a frame that only copies the static layer and rasterizes
  // curves (labels in columns, no moving spectrogram) does without one.
  std::optional<QPainter> painter;
  if (!kept || !columns || movingSpectrogram) {
    painter.emplace(&image);
    painter->setClipRect(chart);
  }
  if (!kept && steady > 0) {
    charts_.paintCharts(charts, 0, steady, m, rasterizer_, &*painter);
  }
  if (!kept && columns) {
    // Nothing moving ever reaches the columns: their labels belong to the static layer.
    painter->setClipping(false);
    paintScales(*painter, look, chart, logical, m);
    painter->setClipRect(chart);
  }
  if (!kept) staticLayer_.keep(image, look, charts, steady);

  // Whatever is drawn from here on is noted, so that the next frame can undo just that.
  // The border and the scale ticks need no undoing when opaque: drawn again, they come
  // out the same. Spectrograms are drawn by the painter, which notes nothing.
  drawn_.reset(image.size());
  drawnKnown_ = look.border.alpha() == 255 && look.grid.alpha() == 255 && !movingSpectrogram;
  drawnBits_ = bits;
  drawnStride_ = image.bytesPerLine();
  drawnSize_ = image.size();
  drawnRatio_ = dpr;

  rasterizer_.recordTiles(&drawn_);
  charts_.paintCharts(charts, steady, charts.size(), m, rasterizer_, painter ? &*painter : nullptr);
  rasterizer_.recordTiles(nullptr);
  if (painter) painter->setClipping(false);

  paintCursor(look, m);
  rasterizer_.begin(bits, image.bytesPerLine(), image.rect());
  if (columns) {
    // Around the chart area rather than on its edge, so a curve along an edge (full
    // coherence) stays in sight.
    const int t = std::max(1, static_cast<int>(std::lround(dpr)));
    paintBorder(look, deviceChart.adjusted(-t, -t, t, t) & image.rect(), dpr);
  } else {
    paintBorder(look, deviceChart, dpr);
    paintScales(*painter, look, chart, logical, m);
  }
}

void PlotPainter::paintGrid(const PlotLook& look, const PlotMapping& m) {
  const uint32_t pixel = pixelOf(look.grid);
  const QRectF& area = m.deviceChart;
  long first = 0;
  long last = 0;
  double from = 0.0;
  double to = 0.0;
  if (gridIndices(look.fullX.min, look.gridStepX, look.visibleX.min, look.visibleX.max, first,
                  last)) {
    for (long k = first; k <= last; ++k) {
      lineSpan(m.deviceX(look.fullX.min + k * look.gridStepX), look.gridThickness,
               m.devicePixelRatio, from, to);
      rasterizer_.fillRect(from, to, area.top(), area.bottom(), pixel);
    }
  }
  if (gridIndices(0.0, look.gridStepY, look.visibleY.min, look.visibleY.max, first, last)) {
    for (long k = first; k <= last; ++k) {
      lineSpan(m.deviceY(k * look.gridStepY), look.gridThickness, m.devicePixelRatio, from, to);
      rasterizer_.fillBlock(QRect(static_cast<int>(area.left()), static_cast<int>(from),
                                  static_cast<int>(area.width()), static_cast<int>(to - from)),
                            pixel);
    }
  }
}

void PlotPainter::paintCursor(const PlotLook& look, const PlotMapping& m) {
  if (!look.hasCursor || !look.cursorShown) return;
  if (!std::isfinite(look.cursor.x()) || !std::isfinite(look.cursor.y())) return;
  const uint32_t pixel = pixelOf(look.cursorColor);
  const QRectF& area = m.deviceChart;
  double from = 0.0;
  double to = 0.0;
  const double dpr = m.devicePixelRatio;
  lineSpan(std::clamp(m.deviceX(look.cursor.x()), -1e6, 1e6), look.cursorThickness, dpr, from, to);
  rasterizer_.fillRect(from, to, area.top(), area.bottom(), pixel);
  noteDrawn(QRectF(QPointF(from, area.top()), QPointF(to, area.bottom())));
  lineSpan(std::clamp(m.deviceY(look.cursor.y()), -1e6, 1e6), look.cursorThickness, dpr, from, to);
  noteDrawn(QRectF(QPointF(area.left(), from), QPointF(area.right(), to)));
  rasterizer_.fillBlock(QRect(static_cast<int>(area.left()), static_cast<int>(from),
                              static_cast<int>(area.width()), static_cast<int>(to - from)),
                        pixel);
}

void PlotPainter::paintBorder(const PlotLook& look, const QRect& d, double dpr) {
  if (d.isEmpty()) return;
  const uint32_t pixel = pixelOf(look.border);
  const int t = std::min({std::max(1, static_cast<int>(std::lround(dpr))), d.width(), d.height()});
  rasterizer_.fillBlock(QRect(d.left(), d.top(), d.width(), t), pixel);
  rasterizer_.fillBlock(QRect(d.left(), d.bottom() - t + 1, d.width(), t), pixel);
  rasterizer_.fillBlock(QRect(d.left(), d.top() + t, t, d.height() - 2 * t), pixel);
  rasterizer_.fillBlock(QRect(d.right() - t + 1, d.top() + t, t, d.height() - 2 * t), pixel);
}

const PlotPainter::SideLabels& PlotPainter::xLabelsFor(const PlotLook& look, int side) {
  SideLabels& cached = xLabels_[static_cast<size_t>(side)];
  const QStringList& given = look.labels[static_cast<size_t>(side)];
  if (cached.source != given || cached.text.size() != static_cast<size_t>(given.size())) {
    cached.source = given;
    cached.text.clear();
    cached.width.clear();
    const QFontMetricsF fm(font_);
    for (const QString& label : given) {
      // Labels may carry blanks for column alignment; centred under a line they would
      // only push the text off its line.
      cached.text.push_back(label.trimmed());
      cached.width.push_back(fm.horizontalAdvance(cached.text.back()));
    }
  }
  return cached;
}

const PlotPainter::LabelText& PlotPainter::yLabelFor(double value, double step) {
  for (const LabelText& label : yLabels_) {
    if (label.value == value && label.step == step) return label;
  }
  if (yLabels_.size() > 256) yLabels_.clear();
  const QString text = yLabelText(value, step);
  yLabels_.push_back({value, step, text, QFontMetricsF(font_).horizontalAdvance(text)});
  return yLabels_.back();
}

void PlotPainter::drawLabel(QPainter& p, QPointF at, double width, const QString& text, int side,
                            bool unit) {
  p.drawText(QPointF(at.x(), at.y() + ascent_), text);
  drawnLabels_.push_back(
      {text, QRectF(at.x(), at.y(), width, lineHeight_), static_cast<PlotSide>(side), unit});
}

void PlotPainter::paintScales(QPainter& p, const PlotLook& look, const QRect& chart, QSize size,
                              const PlotMapping& m) {
  p.setFont(scaleFont(look));
  p.setPen(look.labelColor);
  drawnLabels_.clear();  // keeps its capacity: a frame that draws labels allocates nothing
  const double dpr = m.devicePixelRatio;
  const uint32_t tickPixel = pixelOf(look.grid);
  const QRectF area(chart);
  const bool columns = labelsInColumns(look);
  // Labels beside the chart area rather than over it.
  const bool beside = !look.overlaid || columns;
  const QRectF bounds = look.overlaid && !columns ? area : QRectF(QPointF(0, 0), QSizeF(size));
  const double left = area.left();
  const double right = area.left() + area.width();
  const double top = area.top();
  const double bottom = area.top() + area.height();
  auto shows = [&](int side) {
    return look.scaleVisible[static_cast<size_t>(side)] &&
           look.labelsVisible[static_cast<size_t>(side)];
  };
  // Overlaid y labels keep clear of the strips the x labels use.
  const double stripTop = shows(PlotSideTop) && !beside ? top + lineHeight_ + kLabelPad : top;
  const double stripBottom =
      shows(PlotSideBottom) && !beside ? bottom - lineHeight_ - kLabelPad : bottom;
  const QColor unitColor = look.unitColor.isValid() ? look.unitColor : look.labelColor;
  double from = 0.0;
  double to = 0.0;
  long first = 0;
  long last = 0;

  for (int side : {PlotSideBottom, PlotSideTop}) {
    if (!look.scaleVisible[static_cast<size_t>(side)]) continue;
    const bool isBottom = side == PlotSideBottom;
    const double y = look.overlaid && !columns
                         ? (isBottom ? bottom - kLabelPad / 2 - lineHeight_ : top + kLabelPad / 2)
                         : (isBottom ? bottom + kLabelPad / 2 : top - kLabelPad / 2 - lineHeight_);
    // In columns the x labels stay above or below the chart area.
    const double limitLeft = columns ? left : bounds.left();
    const double limitRight = columns ? right : bounds.right();
    double previousRight = -1e9;
    // The unit at the axis end, or just after the last label where that one reaches it;
    // in the top strip it leaves room for the right-hand y unit in the corner.
    const QString& unit = look.units[static_cast<size_t>(side)];
    const auto drawUnit = [&] {
      if (!columns || !shows(side) || unit.isEmpty()) return;
      const QFontMetricsF fm(font_);
      const double width = fm.horizontalAdvance(unit);
      const double x = std::max(right - kLabelPad - width, previousRight + kLabelPad);
      const QString& corner = look.units[PlotSideRight];
      double end = bounds.right() - kLabelPad;
      if (!isBottom && !corner.isEmpty()) end -= fm.horizontalAdvance(corner) + kLabelPad;
      if (x + width > end) return;
      p.setPen(unitColor);
      drawLabel(p, QPointF(x, y), width, unit, side, true);
      p.setPen(look.labelColor);
    };
    if (!gridIndices(look.fullX.min, look.gridStepX, look.visibleX.min, look.visibleX.max, first,
                     last)) {
      drawUnit();
      continue;
    }
    const SideLabels& labels = xLabelsFor(look, side);
    for (long k = first; k <= last; ++k) {
      const double deviceX = m.deviceX(look.fullX.min + k * look.gridStepX);
      if (!look.overlaid) {
        lineSpan(deviceX, 1.0, dpr, from, to);
        const double y0 = isBottom ? bottom * dpr : (top - kTick) * dpr;
        rasterizer_.fillRect(from, to, y0, y0 + kTick * dpr, tickPixel);
      }
      if (!shows(side)) continue;
      const QString* text = nullptr;
      double width = 0.0;
      if (look.xValueLabels) {
        const LabelText& label = yLabelFor(look.fullX.min + k * look.gridStepX, look.gridStepX);
        text = &label.text;
        width = label.width;
      } else {
        if (k < 0 || k >= static_cast<long>(labels.text.size())) continue;
        text = &labels.text[static_cast<size_t>(k)];
        width = labels.width[static_cast<size_t>(k)];
      }
      if (text->isEmpty()) continue;
      const double x = deviceX / dpr - width / 2.0;
      if (x < limitLeft || x + width > limitRight || x < previousRight + kLabelPad) continue;
      drawLabel(p, QPointF(x, y), width, *text, side, false);
      noteDrawn(QRectF(x * dpr, y * dpr, width * dpr, lineHeight_ * dpr));
      previousRight = x + width;
    }
    drawUnit();
  }

  for (int side : {PlotSideLeft, PlotSideRight}) {
    if (!look.scaleVisible[static_cast<size_t>(side)]) continue;
    const bool isLeft = side == PlotSideLeft;
    // The unit at the column's outer top corner; labels that would touch it give way.
    QRectF unitRect;
    const QString& unit = look.units[static_cast<size_t>(side)];
    if (columns && shows(side) && !unit.isEmpty()) {
      const double width = QFontMetricsF(font_).horizontalAdvance(unit);
      const double x = isLeft ? kLabelPad : bounds.right() - kLabelPad - width;
      unitRect = QRectF(x, top - kLabelPad / 2 - lineHeight_, width, lineHeight_);
      p.setPen(unitColor);
      drawLabel(p, unitRect.topLeft(), width, unit, side, true);
      p.setPen(look.labelColor);
    }
    if (!gridIndices(0.0, look.gridStepY, look.visibleY.min, look.visibleY.max, first, last)) {
      continue;
    }
    const double factor = isLeft ? 1.0 : look.rightFactor;
    double previousTop = 1e9;
    for (long k = first; k <= last; ++k) {
      const double value = k * look.gridStepY;
      const double deviceY = m.deviceY(value);
      if (!look.overlaid) {
        lineSpan(deviceY, 1.0, dpr, from, to);
        const int x0 = static_cast<int>(std::lround((isLeft ? left - kTick : right) * dpr));
        rasterizer_.fillBlock(
            QRect(x0, static_cast<int>(from), static_cast<int>(std::lround(kTick * dpr)),
                  static_cast<int>(to - from)),
            tickPixel);
      }
      if (!shows(side)) continue;
      if (!isLeft && (value < look.rightShown.min - 1e-9 || value > look.rightShown.max + 1e-9))
        continue;
      const LabelText& label = yLabelFor(value * factor, look.gridStepY * factor);
      const double y = deviceY / dpr - lineHeight_ / 2.0;
      if (y < bounds.top() || y + lineHeight_ > bounds.bottom() || y + lineHeight_ > previousTop) {
        continue;
      }
      if (!beside && (y < stripTop || y + lineHeight_ > stripBottom)) continue;
      double x = 0.0;
      if (!beside) {
        x = isLeft ? left + kLabelPad : right - kLabelPad - label.width;
      } else {
        x = isLeft ? left - kLabelPad - label.width : right + kLabelPad;
      }
      const QRectF at(x, y, label.width, lineHeight_);
      if (!unitRect.isNull() && at.intersects(unitRect)) continue;
      drawLabel(p, QPointF(x, y), label.width, label.text, side, false);
      noteDrawn(QRectF(x * dpr, y * dpr, label.width * dpr, lineHeight_ * dpr));
      previousTop = y;
    }
  }
}

}  // namespace qv::gui
