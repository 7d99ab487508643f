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
  float fontSize = 11.0f;  // logical pixels

  QColor background;
  QColor chartsBackground;
  QColor border;
  QColor grid;
  QColor labelColor;
  double gridThickness = 1.0;

  bool hasCursor = false;
  bool cursorShown = false;
  QColor cursorColor;
  double cursorThickness = 1.0;
  QPointF cursor;
};

// Whether two looks give the same frame below the charts (everything but the cursor).
bool sameFrameBelowCharts(const PlotLook& a, const PlotLook& b);

}  // namespace qv::gui
