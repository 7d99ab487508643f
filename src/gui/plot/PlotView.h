#pragma once
// The plotting widget: draws a plot::ChartList (line, phase line, bar, spectrogram) over
// a grid with scales on up to four sides, pans and zooms inside a full range, and shows a
// cursor that its delegate snaps. Main thread only, except setDataOfLengthForChart, which
// may come from any thread (the chart copies under its own lock; painting takes one
// consistent snapshot per chart). Repaint requests are coalesced to at most one paint per
// screen refresh.
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "plot/Chart.h"
#include "plot/ChartColor.h"
#include "plot/ChartList.h"
#include "plot/XValuesSpan.h"

class QTimer;
class QPainter;
class QRegion;

namespace qv::gui {

enum PlotSide : int {
  PlotSideLeft = 0,
  PlotSideRight = 1,
  PlotSideBottom = 2,
  PlotSideTop = 3,
  PlotSideCount = 4,
};

struct PlotRange {
  double min = 0.0;
  double max = 1.0;
  bool operator==(const PlotRange&) const = default;
};

class PlotView;

// A scale label as last drawn: its text, where (logical pixels), its side, and whether it
// is a unit.
struct PlotScaleLabel {
  QString text;
  QRectF rect;
  PlotSide side = PlotSideLeft;
  bool unit = false;
};

// Told of user pans and zooms; asked where to draw the cursor (the returned point, in
// data coordinates, is where the cross-hair goes).
class PlotViewDelegate {
 public:
  virtual ~PlotViewDelegate() = default;
  virtual void plotViewPanned(PlotView* view) = 0;
  virtual void plotViewZoomedIsHorizontal(PlotView* view, bool isHorizontal) = 0;
  virtual QPointF plotViewCursorMoved(PlotView* view, QPointF point) = 0;
  virtual QPointF plotViewCursorTrackingStarted(PlotView* view, QPointF point) = 0;
  virtual QPointF plotViewCursorTrackingFinished(PlotView* view, QPointF point) = 0;
};

class PlotView : public QWidget {
  Q_OBJECT

 public:
  explicit PlotView(QWidget* parent = nullptr);
  ~PlotView() override;

  // ---- axes (data coordinates) ----
  // The limit of panning and zooming.
  void setRangeMinXMaxXMinYMaxY(double minX, double maxX, double minY, double maxY);
  // Clamped to the full range. The first visible range set is the one double-click
  // returns to.
  void setVisibleRangeMinXMaxXMinYMaxY(double minX, double maxX, double minY, double maxY);
  PlotRange rangeX() const;
  PlotRange rangeY() const;
  PlotRange visibleRangeX() const;
  PlotRange visibleRangeY() const;
  void setGridStepX(double step);
  void setGridStepY(double step);
  double gridStepX() const;
  double gridStepY() const;

  // ---- scales ----
  // One label per x grid line, the first at the full range's minimum (left and right
  // sides label the y grid from its values and ignore this).
  void setLabelsForSide(const QStringList& labels, PlotSide side);
  void setScaleSideVisible(PlotSide side, bool visible);
  void setScaleSideLabelsVisible(PlotSide side, bool visible);
  bool isScaleSideVisible(PlotSide side) const;
  bool areScaleSideLabelsVisible(PlotSide side) const;
  // Overlaid: labels drawn inside the chart area, which then fills the widget.
  void setScalesOverlaid(bool overlaid);
  void setScaleFontSize(float points);
  // Overlaid labels in columns `width` logical pixels wide (left and right) and strips
  // (top and bottom) of their own, clear of the grid, the curves and the cursor; 0 lets
  // them lie over the charts. Views stacked above one another share the x axis when their
  // columns are equally wide.
  void setScaleLabelColumnWidth(double width);
  // The narrowest columns this view's y labels and units fit in.
  double scaleLabelColumnWidthNeeded();
  // The unit of a side's values, in dim text (labels in columns only): y units at the top
  // outer corner of their column, the x unit at the right end of its strip.
  void setScaleUnit(PlotSide side, const QString& unit);
  // The right-hand labels read y · factor, and only for y in [fromY, toY]: a second
  // quantity drawn on the same axes.
  void setRightScale(double factor, double fromY, double toY);
  // The x grid lines labelled with their values rather than the label lists.
  void setXValueLabels(bool on);
  // The labels and units of the last frame that drew them (tests, screenshots).
  const std::vector<PlotScaleLabel>& scaleLabels() const;

  // ---- look ----
  void setBackgroundColor(const QColor& color);
  void setChartsBackgroundColor(const QColor& color);
  void setChartsBorderColor(const QColor& color);
  void setGridColor(const QColor& color);
  void setGridThickness(double thickness);
  // The scale labels' text (light grey by default).
  void setScaleLabelColor(const QColor& color);

  // ---- cursor ----
  void addCursor();
  bool hasCursor() const;
  void setCursorColor(const QColor& color);
  QColor cursorColor() const;
  void setCursorThickness(double thickness);
  // Data coordinates; shows the cursor.
  void setCursorPosition(QPointF point);
  QPointF cursorPosition() const;
  bool isCursorShown() const;

  // ---- charts ----  (each new chart goes above all existing ones)
  // Bars rise from the bottom of the chart area: color1 shows at the top of the area and
  // color2 at its bottom. A spectrogram keeps its last `sizeByTime` data sets as rows,
  // the newest at the top, coloured by value across the full y range.
  std::shared_ptr<plot::Chart> addLineChartWithName(const std::string& name, plot::XValuesSpan x,
                                                    float thickness, plot::Color color);
  std::shared_ptr<plot::Chart> addPhaseLineChartWithName(const std::string& name,
                                                         plot::XValuesSpan x, float thickness,
                                                         plot::Color color);
  std::shared_ptr<plot::Chart> addBarChartWithName(const std::string& name, plot::XValuesSpan x,
                                                   plot::Color color1, plot::Color color2);
  std::shared_ptr<plot::Chart> addSpectrogramWithName(const std::string& name, plot::XValuesSpan x,
                                                      int32_t sizeByTime);
  bool deleteChart(const plot::Chart* chart);
  size_t deleteChartsWithID(const std::string& id);
  // Any thread. The values are copied.
  void setDataOfLengthForChart(const float* data, int32_t length, plot::Chart* chart);
  const plot::ChartList& chartList() const;
  plot::ChartList& chartList();

  // ---- drawing ----
  // Repaint requests; coalesced (the flag is accepted for callers that pass one).
  void update(bool flag);
  void update();
  using QWidget::update;  // the rectangle forms, uncoalesced
  // While animating, the view expects a steady stream of requests.
  void setIsAnimating(bool animating);
  bool isAnimating() const;
  void setNeedsDisplay(bool needsDisplay);
  // Paints once now into an image of the widget's size at the given device pixel ratio
  // (tests, benchmarks, screenshots).
  QImage renderImage(qreal devicePixelRatio = 1.0);
  // How many paint events ran (tests of coalescing); renderImage is not counted.
  uint64_t paintCount() const;

  void setDelegate(PlotViewDelegate* delegate);
  PlotViewDelegate* delegate() const;

  // ---- geometry, in widget (logical pixel) coordinates ----
  QRectF chartRect() const;
  QPointF widgetPointForValue(QPointF value) const;
  QPointF valueForWidgetPoint(QPointF point) const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum CursorPhase { kCursorMoved, kCursorTrackingStarted, kCursorTrackingFinished };
  // Asks the delegate where the cursor goes for a pointer at `widgetPoint` and puts it there.
  void moveCursorTo(int phase, QPointF widgetPoint);
  // Whether every pixel of a frame is opaque (so nothing behind the view shows).
  bool framesAreOpaque() const;
  // Paints the frame straight into the painter's image when it is the window's raster
  // backing image, leaving what lies outside `region` as it was; false when it is not.
  bool paintInPlace(QPainter& p, const QRegion& region);
  // Pans from the visible ranges at the press by a pointer offset (logical pixels).
  void panBy(QPointF offset);
  // A visible range moved or zoomed by the user, kept inside the full range.
  PlotRange limited(PlotRange range, PlotRange limit) const;

  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace qv::gui
