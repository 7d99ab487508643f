#pragma once
// The state behind a PlotView, shared by its configuration and drawing code
// (PlotView.cpp) and its pointer input (PlotViewInput.cpp). Main thread only.
#include <QElapsedTimer>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "gui/plot/PlotPainter.h"
#include "gui/plot/PlotView.h"
#include "plot/ChartList.h"

namespace qv::gui {

struct PlotView::Impl {
  PlotLook look;
  plot::ChartList charts;
  PlotPainter painter;
  QImage frame;                      // painted here, then copied onto the widget in one go
  std::vector<uint32_t> keptPixels;  // what a paint in place must leave as it was
  // Where the last paint went, to tell whether the window image still holds that frame.
  bool lastPaintInPlace = false;
  bool placeChanged = true;
  QRegion lastRegion;
  QSize lastWindowSize;
  PlotViewDelegate* delegate = nullptr;

  bool fullRangeSet = false;
  bool visibleRangeSet = false;
  PlotRange startX;
  PlotRange startY;

  QTimer* repaintTimer = nullptr;
  QElapsedTimer sinceRepaint;
  bool repaintPending = false;
  // The screen's frame time, asked for when the view shows or moves (where it may change
  // screens), not at every request: finding a widget's screen walks up to its window.
  qint64 frameMs = 0;
  bool animating = false;
  uint64_t paints = 0;

  enum class Drag { None, Pressed, Panning };
  Drag drag = Drag::None;
  bool tracking = false;
  QPointF pressPoint;
  PlotRange pressX;
  PlotRange pressY;
};

}  // namespace qv::gui
