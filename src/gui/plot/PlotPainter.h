#pragma once
// Paints one frame of a plot view into an image: backgrounds, grid, charts, border,
// cursor and the scales on up to four sides; and says where the chart area lies, so the
// widget's hit testing and the painting agree. Painting thread only (the main thread).
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

#include "gui/plot/ChartPainter.h"
#include "gui/plot/CurveRasterizer.h"
#include "gui/plot/DirtyTiles.h"
#include "gui/plot/PlotLook.h"
#include "gui/plot/PlotView.h"
#include "gui/plot/StaticLayer.h"

namespace qv::gui {

class PlotPainter {
 public:
  // The chart area of a view of `size` logical pixels.
  QRect chartRect(const PlotLook& look, QSize size);
  // Paints into `image` (any size; its device pixel ratio says how logical pixels map).
  // `holdsLastFrame`: as far as the caller knows, nobody but this painter wrote into the
  // image since its last paint (the same pixels at the same address), so that only what
  // moved need be undone.
  void paint(QImage& image, const PlotLook& look, const plot::ChartList& charts,
             bool holdsLastFrame = false);

  // How wide label columns must be for this look's y labels and units (logical pixels).
  double columnWidthNeeded(const PlotLook& look);

  // The labels and units the scales were last drawn with.
  const std::vector<PlotScaleLabel>& drawnLabels() const { return drawnLabels_; }

  // The text of a y grid label (decimals follow the grid step).
  static QString yLabelText(double value, double step);

 private:
  // The font of the scales at `look.fontSize`, cached with its metrics.
  const QFont& scaleFont(const PlotLook& look);
  double yLabelWidth(const PlotLook& look);
  void paintGrid(const PlotLook& look, const PlotMapping& m);
  void paintCursor(const PlotLook& look, const PlotMapping& m);
  void paintBorder(const PlotLook& look, const QRect& deviceChart, double dpr);
  void paintScales(QPainter& p, const PlotLook& look, const QRect& chart, QSize size,
                   const PlotMapping& m);
  // Device pixel rows (or columns) of a line `thickness` logical pixels wide at `at`.
  static void lineSpan(double at, double thickness, double dpr, double& from, double& to);

  CurveRasterizer rasterizer_;
  ChartPainter charts_;
  StaticLayer staticLayer_;
  // What the last frame drew over the static layer (the moving charts, the cursor and its
  // labels), and where that frame was.
  DirtyTiles drawn_;
  bool drawnKnown_ = false;
  const uchar* drawnBits_ = nullptr;
  qsizetype drawnStride_ = 0;
  QSize drawnSize_;
  double drawnRatio_ = 0.0;
  // Notes device rectangle `r` as drawn, widened by a pixel for antialiasing.
  void noteDrawn(const QRectF& r);
  std::vector<PlotScaleLabel> drawnLabels_;
  // Draws `text` with its top left at `at` and lists it.
  void drawLabel(QPainter& p, QPointF at, double width, const QString& text, int side, bool unit);
  QFont font_;
  float fontPixels_ = -1.0f;
  double lineHeight_ = 0.0;
  double ascent_ = 0.0;
  // y label widths depend on the full range and the step only.
  PlotRange widthRange_{0.0, -1.0};
  double widthStep_ = -1.0;
  double yLabelWidth_ = 0.0;
  struct LabelText {
    double value;
    double step;
    QString text;
    double width;
  };
  std::vector<LabelText> yLabels_;
  // Trimmed x labels and their widths, cached per side while the list stays the same.
  struct SideLabels {
    QStringList source;
    std::vector<QString> text;
    std::vector<double> width;
  };
  std::array<SideLabels, PlotSideCount> xLabels_;

  const SideLabels& xLabelsFor(const PlotLook& look, int side);
  const LabelText& yLabelFor(double value, double step);
};

}  // namespace qv::gui
