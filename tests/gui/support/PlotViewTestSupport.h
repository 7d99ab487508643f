#pragma once
// Helpers of the plot view tests: a view with plain ranges and no scales (so the chart
// area is the whole widget), pixel probes, and a delegate that records what it is told.
#include <QColor>
#include <QImage>
#include <QPointF>
#include <cmath>
#include <memory>
#include <vector>

#include "gui/plot/PlotView.h"

namespace qv::guitest {

inline constexpr plot::Color kRed{1.0f, 0.0f, 0.0f, 1.0f};
inline constexpr plot::Color kGreen{0.0f, 1.0f, 0.0f, 1.0f};
inline constexpr plot::Color kBlue{0.0f, 0.0f, 1.0f, 1.0f};
inline constexpr plot::Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};

// x 0..100, y -100..100 (all of it visible, no start-up range set yet) on a black chart
// area that fills the widget; no grid.
inline std::unique_ptr<gui::PlotView> makeBareView(int width = 400, int height = 200) {
  auto view = std::make_unique<gui::PlotView>();
  view->resize(width, height);
  view->setRangeMinXMaxXMinYMaxY(0, 100, -100, 100);
  for (int side = 0; side < gui::PlotSideCount; ++side) {
    view->setScaleSideVisible(static_cast<gui::PlotSide>(side), false);
  }
  view->setBackgroundColor(Qt::black);
  view->setChartsBackgroundColor(Qt::black);
  view->setChartsBorderColor(Qt::black);
  view->setGridStepX(0);
  view->setGridStepY(0);
  return view;
}

// n evenly spaced points over x 0..100.
inline plot::XValuesSpan span(int n) { return {0.0f, 100.0f, n}; }

inline int brightness(QRgb p) { return std::max({qRed(p), qGreen(p), qBlue(p)}); }

// The intensity-weighted centre (in continuous device rows, pixel j covering j..j+1) of
// what is lit in column x between rows from..to; NaN when nothing is.
inline double litCentreInColumn(const QImage& image, int x, int from = 0, int to = -1) {
  if (to < 0) to = image.height() - 1;
  double sum = 0.0;
  double weighted = 0.0;
  for (int y = from; y <= to; ++y) {
    const int b = brightness(image.pixel(x, y));
    sum += b;
    weighted += b * (y + 0.5);
  }
  return sum > 0.0 ? weighted / sum : NAN;
}

// Pixels brighter than `threshold` in a rectangle of device pixels.
inline int countLit(const QImage& image, int x0, int x1, int y0, int y1, int threshold = 40) {
  int n = 0;
  for (int y = std::max(0, y0); y <= std::min(y1, image.height() - 1); ++y) {
    for (int x = std::max(0, x0); x <= std::min(x1, image.width() - 1); ++x) {
      if (brightness(image.pixel(x, y)) > threshold) ++n;
    }
  }
  return n;
}

struct RecordingDelegate : gui::PlotViewDelegate {
  int panned = 0;
  std::vector<bool> zooms;  // isHorizontal of each zoom report
  std::vector<QPointF> moved;
  std::vector<QPointF> started;
  std::vector<QPointF> finished;
  // Where the cursor is asked to go: snapped to multiples of 10 in x and to y = 25.
  static QPointF snap(QPointF p) { return {std::round(p.x() / 10.0) * 10.0, 25.0}; }

  void plotViewPanned(gui::PlotView*) override { ++panned; }
  void plotViewZoomedIsHorizontal(gui::PlotView*, bool isHorizontal) override {
    zooms.push_back(isHorizontal);
  }
  QPointF plotViewCursorMoved(gui::PlotView*, QPointF point) override {
    moved.push_back(point);
    return snap(point);
  }
  QPointF plotViewCursorTrackingStarted(gui::PlotView*, QPointF point) override {
    started.push_back(point);
    return point;
  }
  QPointF plotViewCursorTrackingFinished(gui::PlotView*, QPointF point) override {
    finished.push_back(point);
    return point;
  }
};

}  // namespace qv::guitest
