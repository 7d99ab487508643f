#include "gui/plot/PlotView.h"

#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/Theme.h"
#include "gui/plot/PlotPainter.h"
#include "gui/plot/PlotViewState.h"

namespace qv::gui {
namespace {

PlotRange ordered(double a, double b) { return a <= b ? PlotRange{a, b} : PlotRange{b, a}; }

// The part of `r` inside `limit`; the whole limit when nothing is left.
PlotRange intersect(PlotRange r, PlotRange limit) {
  PlotRange out{std::max(r.min, limit.min), std::min(r.max, limit.max)};
  if (!(out.max > out.min)) return limit;
  return out;
}

}  // namespace

PlotView::PlotView(QWidget* parent) : QWidget(parent), d_(std::make_unique<Impl>()) {
  PlotLook& look = d_->look;
  look.background = theme::kPlotBackground;
  look.chartsBackground = theme::kChartArea;
  look.border = theme::kChartBorder;
  look.grid = theme::kGrid;
  look.labelColor = theme::kScaleLabel;
  look.unitColor = theme::kTextDim;
  look.cursorColor = QColor(255, 255, 255);
  setMouseTracking(true);

  d_->repaintTimer = new QTimer(this);
  d_->repaintTimer->setSingleShot(true);
  d_->repaintTimer->setTimerType(Qt::PreciseTimer);
  connect(d_->repaintTimer, &QTimer::timeout, this, [this] {
    d_->repaintPending = false;
    d_->sinceRepaint.start();
    QWidget::update();
  });
}

PlotView::~PlotView() = default;

// ---- axes ----

void PlotView::setRangeMinXMaxXMinYMaxY(double minX, double maxX, double minY, double maxY) {
  PlotLook& look = d_->look;
  look.fullX = ordered(minX, maxX);
  look.fullY = ordered(minY, maxY);
  d_->fullRangeSet = true;
  if (d_->visibleRangeSet) {
    look.visibleX = intersect(look.visibleX, look.fullX);
    look.visibleY = intersect(look.visibleY, look.fullY);
  } else {
    look.visibleX = look.fullX;
    look.visibleY = look.fullY;
  }
  update();
}

void PlotView::setVisibleRangeMinXMaxXMinYMaxY(double minX, double maxX, double minY, double maxY) {
  PlotLook& look = d_->look;
  PlotRange x = ordered(minX, maxX);
  PlotRange y = ordered(minY, maxY);
  if (d_->fullRangeSet) {
    x = intersect(x, look.fullX);
    y = intersect(y, look.fullY);
  }
  look.visibleX = x;
  look.visibleY = y;
  if (!d_->visibleRangeSet) {
    d_->startX = x;
    d_->startY = y;
  }
  d_->visibleRangeSet = true;
  update();
}

PlotRange PlotView::rangeX() const { return d_->look.fullX; }
PlotRange PlotView::rangeY() const { return d_->look.fullY; }
PlotRange PlotView::visibleRangeX() const { return d_->look.visibleX; }
PlotRange PlotView::visibleRangeY() const { return d_->look.visibleY; }

void PlotView::setGridStepX(double step) {
  d_->look.gridStepX = step;
  update();
}

void PlotView::setGridStepY(double step) {
  d_->look.gridStepY = step;
  update();
}

double PlotView::gridStepX() const { return d_->look.gridStepX; }
double PlotView::gridStepY() const { return d_->look.gridStepY; }

// ---- scales ----

void PlotView::setLabelsForSide(const QStringList& labels, PlotSide side) {
  if (side < 0 || side >= PlotSideCount) return;
  d_->look.labels[static_cast<size_t>(side)] = labels;
  update();
}

void PlotView::setScaleSideVisible(PlotSide side, bool visible) {
  if (side < 0 || side >= PlotSideCount) return;
  d_->look.scaleVisible[static_cast<size_t>(side)] = visible;
  update();
}

void PlotView::setScaleSideLabelsVisible(PlotSide side, bool visible) {
  if (side < 0 || side >= PlotSideCount) return;
  d_->look.labelsVisible[static_cast<size_t>(side)] = visible;
  update();
}

bool PlotView::isScaleSideVisible(PlotSide side) const {
  return side >= 0 && side < PlotSideCount && d_->look.scaleVisible[static_cast<size_t>(side)];
}

bool PlotView::areScaleSideLabelsVisible(PlotSide side) const {
  return side >= 0 && side < PlotSideCount && d_->look.labelsVisible[static_cast<size_t>(side)];
}

void PlotView::setScalesOverlaid(bool overlaid) {
  d_->look.overlaid = overlaid;
  update();
}

void PlotView::setScaleFontSize(float points) {
  if (!(points > 0.0f)) return;
  d_->look.fontSize = points;
  update();
}

void PlotView::setScaleLabelColumnWidth(double width) {
  d_->look.labelColumn = std::max(0.0, width);
  update();
}

double PlotView::scaleLabelColumnWidthNeeded() { return d_->painter.columnWidthNeeded(d_->look); }

void PlotView::setScaleUnit(PlotSide side, const QString& unit) {
  if (side < 0 || side >= PlotSideCount) return;
  d_->look.units[static_cast<size_t>(side)] = unit;
  update();
}

void PlotView::setRightScale(double factor, double fromY, double toY) {
  d_->look.rightFactor = factor;
  d_->look.rightShown = ordered(fromY, toY);
  update();
}

void PlotView::setXValueLabels(bool on) {
  d_->look.xValueLabels = on;
  update();
}

const std::vector<PlotScaleLabel>& PlotView::scaleLabels() const {
  return d_->painter.drawnLabels();
}

// ---- look ----

void PlotView::setBackgroundColor(const QColor& color) {
  d_->look.background = color;
  update();
}

void PlotView::setChartsBackgroundColor(const QColor& color) {
  d_->look.chartsBackground = color;
  update();
}

void PlotView::setChartsBorderColor(const QColor& color) {
  d_->look.border = color;
  update();
}

void PlotView::setGridColor(const QColor& color) {
  d_->look.grid = color;
  update();
}

void PlotView::setGridThickness(double thickness) {
  d_->look.gridThickness = thickness;
  update();
}

void PlotView::setScaleLabelColor(const QColor& color) {
  d_->look.labelColor = color;
  update();
}

// ---- cursor ----

void PlotView::addCursor() {
  d_->look.hasCursor = true;
  update();
}

bool PlotView::hasCursor() const { return d_->look.hasCursor; }

void PlotView::setCursorColor(const QColor& color) {
  d_->look.cursorColor = color;
  update();
}

QColor PlotView::cursorColor() const { return d_->look.cursorColor; }

void PlotView::setCursorThickness(double thickness) {
  d_->look.cursorThickness = thickness;
  update();
}

void PlotView::setCursorPosition(QPointF point) {
  d_->look.cursor = point;
  d_->look.cursorShown = true;
  update();
}

QPointF PlotView::cursorPosition() const { return d_->look.cursor; }
bool PlotView::isCursorShown() const { return d_->look.hasCursor && d_->look.cursorShown; }

// ---- charts ----

std::shared_ptr<plot::Chart> PlotView::addLineChartWithName(const std::string& name,
                                                            plot::XValuesSpan x, float thickness,
                                                            plot::Color color) {
  auto chart = d_->charts.addLineChartWithName(name, x, thickness, color);
  update();
  return chart;
}

std::shared_ptr<plot::Chart> PlotView::addPhaseLineChartWithName(const std::string& name,
                                                                 plot::XValuesSpan x,
                                                                 float thickness,
                                                                 plot::Color color) {
  auto chart = d_->charts.addPhaseLineChartWithName(name, x, thickness, color);
  update();
  return chart;
}

std::shared_ptr<plot::Chart> PlotView::addBarChartWithName(const std::string& name,
                                                           plot::XValuesSpan x, plot::Color color1,
                                                           plot::Color color2) {
  auto chart = d_->charts.addBarChartWithName(name, x, color1, color2);
  update();
  return chart;
}

std::shared_ptr<plot::Chart> PlotView::addSpectrogramWithName(const std::string& name,
                                                              plot::XValuesSpan x,
                                                              int32_t sizeByTime) {
  auto chart = d_->charts.addSpectrogramWithName(name, x, sizeByTime);
  update();
  return chart;
}

bool PlotView::deleteChart(const plot::Chart* chart) {
  const bool deleted = d_->charts.deleteChart(chart);
  if (deleted) update();
  return deleted;
}

size_t PlotView::deleteChartsWithID(const std::string& id) {
  const size_t deleted = d_->charts.deleteChartsWithID(id);
  if (deleted > 0) update();
  return deleted;
}

void PlotView::setDataOfLengthForChart(const float* data, int32_t length, plot::Chart* chart) {
  // Any thread: only the chart's own locked copy is touched here; the caller asks for
  // the repaint on the main thread.
  if (!chart || length < 0 || (!data && length > 0)) return;
  chart->setData(data, length);
}

const plot::ChartList& PlotView::chartList() const { return d_->charts; }
plot::ChartList& PlotView::chartList() { return d_->charts; }

// ---- drawing ----

void PlotView::update(bool /*flag*/) { update(); }

void PlotView::update() {
  // Qt need not paint what lies behind an opaque view first.
  const bool opaque = framesAreOpaque();
  if (testAttribute(Qt::WA_OpaquePaintEvent) != opaque)
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
  if (d_->repaintPending) return;
  d_->repaintPending = true;
  // At most one paint per screen refresh, however many requests come in between.
  if (d_->frameMs <= 0) {
    double hz = 60.0;
    if (const QScreen* s = screen()) hz = s->refreshRate() > 1.0 ? s->refreshRate() : 60.0;
    d_->frameMs = std::max<qint64>(1, std::llround(1000.0 / hz));
  }
  const qint64 frameMs = d_->frameMs;
  qint64 wait = 0;
  if (d_->sinceRepaint.isValid()) wait = std::max<qint64>(0, frameMs - d_->sinceRepaint.elapsed());
  d_->repaintTimer->start(static_cast<int>(wait));
}

void PlotView::setIsAnimating(bool animating) {
  d_->animating = animating;
  update();
}

bool PlotView::isAnimating() const { return d_->animating; }

void PlotView::setNeedsDisplay(bool needsDisplay) {
  if (needsDisplay) update();
}

QImage PlotView::renderImage(qreal devicePixelRatio) {
  if (!(devicePixelRatio > 0.0)) devicePixelRatio = 1.0;
  const QSize device(static_cast<int>(std::lround(width() * devicePixelRatio)),
                     static_cast<int>(std::lround(height() * devicePixelRatio)));
  QImage& frame = d_->frame;
  bool fresh = false;
  if (frame.size() != device || frame.format() != QImage::Format_ARGB32_Premultiplied) {
    frame = QImage(device, QImage::Format_ARGB32_Premultiplied);
    fresh = true;
  }
  frame.setDevicePixelRatio(devicePixelRatio);
  d_->painter.paint(frame, d_->look, d_->charts, !fresh);
  d_->lastPaintInPlace = false;
  return frame;
}

uint64_t PlotView::paintCount() const { return d_->paints; }

void PlotView::setDelegate(PlotViewDelegate* delegate) { d_->delegate = delegate; }
PlotViewDelegate* PlotView::delegate() const { return d_->delegate; }

// ---- geometry ----

QRectF PlotView::chartRect() const { return QRectF(d_->painter.chartRect(d_->look, size())); }

QPointF PlotView::widgetPointForValue(QPointF value) const {
  const QRectF r = chartRect();
  const PlotLook& look = d_->look;
  const double sx = look.visibleX.max - look.visibleX.min;
  const double sy = look.visibleY.max - look.visibleY.min;
  return {r.left() + (sx > 0 ? (value.x() - look.visibleX.min) / sx : 0.0) * r.width(),
          r.top() + (sy > 0 ? (look.visibleY.max - value.y()) / sy : 0.0) * r.height()};
}

QPointF PlotView::valueForWidgetPoint(QPointF point) const {
  const QRectF r = chartRect();
  const PlotLook& look = d_->look;
  const double fx = r.width() > 0 ? (point.x() - r.left()) / r.width() : 0.0;
  const double fy = r.height() > 0 ? (point.y() - r.top()) / r.height() : 0.0;
  return {look.visibleX.min + fx * (look.visibleX.max - look.visibleX.min),
          look.visibleY.max - fy * (look.visibleY.max - look.visibleY.min)};
}

// ---- events ----

bool PlotView::framesAreOpaque() const {
  const PlotLook& look = d_->look;
  if (look.chartsBackground.alpha() != 255) return false;
  return look.background.alpha() == 255 || look.overlaid || chartRect() == QRectF(rect());
}

bool PlotView::paintInPlace(QPainter& p, const QRegion& region) {
  // An opaque frame can be drawn straight into the window's backing image: no frame of
  // our own to keep (a few megabytes per view) and no copy of it at every paint.
  if (!framesAreOpaque()) return false;
  // What is not to be painted (a neighbour laps over the view by a few pixels) is set
  // aside and put back after the frame; more than a thin strip is not worth it.
  const QRegion outside = QRegion(rect()).subtracted(region);
  int64_t outsidePixels = 0;
  for (const QRect& r : outside) outsidePixels += int64_t{r.width()} * r.height();
  if (outsidePixels * 8 > int64_t{width()} * height()) return false;
  QPaintEngine* engine = p.paintEngine();
  if (!engine || engine->type() != QPaintEngine::Raster) return false;
  QPaintDevice* device = engine->paintDevice();
  if (!device || device->devType() != QInternal::Image) return false;
  auto* target = static_cast<QImage*>(device);
  if (target->format() != QImage::Format_RGB32 &&
      target->format() != QImage::Format_ARGB32_Premultiplied) {
    return false;
  }
  const QTransform t = p.deviceTransform();
  const qreal ratio = t.m11();
  if (t.m12() != 0.0 || t.m21() != 0.0 || t.m22() != ratio || !(ratio > 0.0)) return false;
  const QRect area(static_cast<int>(std::lround(t.dx())), static_cast<int>(std::lround(t.dy())),
                   static_cast<int>(std::lround(width() * ratio)),
                   static_cast<int>(std::lround(height() * ratio)));
  if (area.isEmpty() || !target->rect().contains(area)) return false;
  const qsizetype stride = target->bytesPerLine();
  uchar* origin = target->bits() + area.y() * stride + area.x() * 4;
  auto deviceRect = [&](const QRect& r) {
    const int x0 = static_cast<int>(std::floor(r.left() * ratio));
    const int y0 = static_cast<int>(std::floor(r.top() * ratio));
    const int x1 = static_cast<int>(std::ceil((r.right() + 1) * ratio));
    const int y1 = static_cast<int>(std::ceil((r.bottom() + 1) * ratio));
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1)) & QRect(QPoint(0, 0), area.size());
  };
  auto moveAside = [&](bool keep) {
    size_t at = 0;
    for (const QRect& logical : outside) {
      const QRect r = deviceRect(logical);
      const size_t bytes = static_cast<size_t>(r.width()) * 4;
      for (int y = r.top(); y <= r.bottom(); ++y, at += static_cast<size_t>(r.width())) {
        uchar* row = origin + y * stride + r.left() * 4;
        if (keep) {
          if (d_->keptPixels.size() < at + static_cast<size_t>(r.width()))
            d_->keptPixels.resize(at + static_cast<size_t>(r.width()));
          std::memcpy(d_->keptPixels.data() + at, row, bytes);
        } else {
          std::memcpy(row, d_->keptPixels.data() + at, bytes);
        }
      }
    }
  };
  moveAside(true);
  // Opaque pixels read the same in both formats.
  QImage frame(origin, area.width(), area.height(), stride, QImage::Format_ARGB32_Premultiplied);
  frame.setDevicePixelRatio(ratio);
  // Nothing else writes into the view's part of the window image while the view keeps
  // its place, its size and the part it paints (and the window its size).
  const bool holds = d_->lastPaintInPlace && !d_->placeChanged && region == d_->lastRegion &&
                     window()->size() == d_->lastWindowSize;
  d_->painter.paint(frame, d_->look, d_->charts, holds);
  moveAside(false);
  d_->frame = QImage();
  d_->lastPaintInPlace = true;
  d_->placeChanged = false;
  d_->lastRegion = region;
  d_->lastWindowSize = window()->size();
  return true;
}

bool PlotView::event(QEvent* event) {
  // The window went to another screen, perhaps of another refresh rate.
  if (event->type() == QEvent::ScreenChangeInternal) d_->frameMs = 0;
  return QWidget::event(event);
}

void PlotView::paintEvent(QPaintEvent* event) {
  ++d_->paints;
  QPainter p(this);
  if (paintInPlace(p, event->region())) return;
  const QImage& frame = renderImage(devicePixelRatioF());
  if (framesAreOpaque()) p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(QPointF(0, 0), frame);
}

void PlotView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  d_->placeChanged = true;
  update();
}

void PlotView::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  d_->placeChanged = true;
  d_->frameMs = 0;
}

void PlotView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  d_->placeChanged = true;
  d_->frameMs = 0;
}

void PlotView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  d_->placeChanged = true;
}

}  // namespace qv::gui
