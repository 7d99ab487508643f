#include "gui/plot/PlotView.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "gui/Theme.h"
#include "gui/plot/PlotPainter.h"

namespace qv::gui {
namespace {

// A press moves this far (logical pixels) before it becomes a pan.
constexpr double kPanThreshold = 3.0;
// The narrowest visible range, as a part of the full range.
constexpr double kMinimumZoom = 1e-4;
// One wheel notch (120 units) scales the visible range by this much.
constexpr double kZoomPerNotch = 0.85;

PlotRange ordered(double a, double b) { return a <= b ? PlotRange{a, b} : PlotRange{b, a}; }

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

// The part of `r` inside `limit`; the whole limit when nothing is left.
PlotRange intersect(PlotRange r, PlotRange limit) {
  PlotRange out{std::max(r.min, limit.min), std::min(r.max, limit.max)};
  if (!(out.max > out.min)) return limit;
  return out;
}

}  // namespace

struct PlotView::Impl {
  PlotLook look;
  plot::ChartList charts;
  PlotPainter painter;
  QImage frame;  // painted here, then copied onto the widget in one go
  PlotViewDelegate* delegate = nullptr;

  bool fullRangeSet = false;
  bool visibleRangeSet = false;
  PlotRange startX;
  PlotRange startY;

  QTimer* repaintTimer = nullptr;
  QElapsedTimer sinceRepaint;
  bool repaintPending = false;
  bool animating = false;
  uint64_t paints = 0;

  enum class Drag { None, Pressed, Panning };
  Drag drag = Drag::None;
  bool tracking = false;
  QPointF pressPoint;
  PlotRange pressX;
  PlotRange pressY;
};

PlotView::PlotView(QWidget* parent) : QWidget(parent), d_(std::make_unique<Impl>()) {
  PlotLook& look = d_->look;
  look.background = theme::kPlotBackground;
  look.chartsBackground = theme::kChartArea;
  look.border = theme::kChartBorder;
  look.grid = theme::kGrid;
  look.labelColor = theme::kScaleLabel;
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

void PlotView::setVisibleRangeMinXMaxXMinYMaxY(double minX, double maxX, double minY,
                                               double maxY) {
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
  if (d_->repaintPending) return;
  d_->repaintPending = true;
  // At most one paint per screen refresh, however many requests come in between.
  double hz = 60.0;
  if (const QScreen* s = screen()) hz = s->refreshRate() > 1.0 ? s->refreshRate() : 60.0;
  const qint64 frameMs = std::max<qint64>(1, std::llround(1000.0 / hz));
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
  if (frame.size() != device || frame.format() != QImage::Format_ARGB32_Premultiplied) {
    frame = QImage(device, QImage::Format_ARGB32_Premultiplied);
  }
  frame.setDevicePixelRatio(devicePixelRatio);
  d_->painter.paint(frame, d_->look, d_->charts);
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

void PlotView::paintEvent(QPaintEvent* /*event*/) {
  ++d_->paints;
  const QImage& frame = renderImage(devicePixelRatioF());
  QPainter p(this);
  p.drawImage(QPointF(0, 0), frame);
}

void PlotView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  update();
}

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
  const PlotRange zoomed = clampInside({at - (at - range.min) * factor, at + (range.max - at) * factor},
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

void PlotView::panBy(QPointF offset) {
  const QRectF r = chartRect();
  if (r.width() <= 0 || r.height() <= 0) return;
  PlotLook& look = d_->look;
  const double dx = offset.x() / r.width() * (d_->pressX.max - d_->pressX.min);
  const double dy = offset.y() / r.height() * (d_->pressY.max - d_->pressY.min);
  const PlotRange x = clampInside({d_->pressX.min - dx, d_->pressX.max - dx}, look.fullX);
  const PlotRange y = clampInside({d_->pressY.min + dy, d_->pressY.max + dy}, look.fullY);
  if (x == look.visibleX && y == look.visibleY) return;
  look.visibleX = x;
  look.visibleY = y;
  update();
  if (d_->delegate) d_->delegate->plotViewPanned(this);
}

}  // namespace qv::gui
