#pragma once
// Everything of a plot view's frame besides the charts. A plain value, main thread only.
#include <QColor>
#include <QPointF>
#include <QStringList>
#include <array>

#include "gui/plot/PlotView.h"

namespace qv::gui {

// Everything of a frame besides the charts.
struct PlotLook {
  PlotRange fullX;
  PlotRange fullY;
  PlotRange visibleX;
  PlotRange visibleY;
  double gridStepX = 0.0;
  double gridStepY = 0.0;
  // Labels of the x grid lines, the first at fullX.min (bottom and top sides).
  std::array<QStringList, PlotSideCount> labels;
  std::array<bool, PlotSideCount> scaleVisible{true, true, true, true};
  std::array<bool, PlotSideCount> labelsVisible{true, true, true, true};
  bool overlaid = false;
  // Overlaid scales in columns: the left and right labels get columns this wide (logical
  // pixels) and the x labels strips of their own, which the grid, the curves and the cursor
  // keep out of, while the whole view stays chart area. 0: the labels lie over the charts.
  double labelColumn = 0.0;
  float fontSize = 11.0f;  // logical pixels
  // The unit of each side's values, in dim text: a y unit at the top outer corner of its
  // column, the x unit at the right end of its strip. Empty: none.
  std::array<QString, PlotSideCount> units;
  // The right-hand scale reads y · rightFactor, and only for y inside rightShown (a second
  // quantity drawn on the same axes).
  double rightFactor = 1.0;
  PlotRange rightShown{-1e300, 1e300};
  // The x grid lines are labelled with their values instead of the label lists.
  bool xValueLabels = false;

  QColor background;
  QColor chartsBackground;
  QColor border;
  QColor grid;
  QColor labelColor;
  QColor unitColor;
  double gridThickness = 1.0;

  bool hasCursor = false;
  bool cursorShown = false;
  QColor cursorColor;
  double cursorThickness = 1.0;
  QPointF cursor;
};

// Whether the labels lie in columns and strips of their own, clear of the charts.
inline bool labelsInColumns(const PlotLook& look) {
  return look.overlaid && look.labelColumn > 0.0;
}

// Whether two looks give the same frame below the charts (everything but the cursor).
bool sameFrameBelowCharts(const PlotLook& a, const PlotLook& b);

}  // namespace qv::gui
