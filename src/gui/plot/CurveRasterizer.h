#pragma once
// Draws curves, filled areas and bars straight into a premultiplied ARGB32 image as one
// vertical span per device pixel column. A thick line costs no more than a thin one this
// way (the raster engine strokes wide pens through a path fill, tens of milliseconds for
// a few noisy 1100-point curves), and a translucent curve never blends twice where it
// folds onto itself. Spans are antialiased at their vertical ends; columns are sampled
// at their centres, so near-vertical edges stay crisp.
// Painting thread only (the main thread); buffers grow once and are reused.
#include <QImage>
#include <QRect>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "gui/plot/DirtyTiles.h"

namespace qv::gui {

struct DevicePoint {
  double x = 0.0;
  double y = 0.0;
};

// A premultiplied ARGB32 pixel of a colour given as bytes (not premultiplied).
uint32_t premultipliedPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);

class CurveRasterizer {
 public:
  // Targets `bits` (rows of `bytesPerLine`), drawing only inside `clip` (device pixels).
  void begin(uchar* bits, qsizetype bytesPerLine, QRect clip);

  // A connected run of points, x never decreasing, as a line `width` device pixels thick
  // with round ends. Widths under one pixel draw one pixel wide with less alpha.
  void strokeRun(const DevicePoint* points, int count, double width, uint32_t pixel);
  // The area between a run and the horizontal line y = baseline.
  void fillRunToBaseline(const DevicePoint* points, int count, double baseline, uint32_t pixel);
  // An axis-aligned rectangle from x0 to x1 (column centres inside it are filled) and
  // from top to bottom (fractional rows blend by coverage). `rowPixels`, when given,
  // holds one colour per row of the clip rectangle (a gradient).
  void fillRect(double x0, double x1, double top, double bottom, uint32_t pixel,
                const uint32_t* rowPixels = nullptr);
  // A filled square of side `size` centred on a point (dots).
  void fillDot(DevicePoint p, double size, uint32_t pixel);
  // Whole pixels, row by row (backgrounds, horizontal lines).
  void fillBlock(QRect block, uint32_t pixel);

  const QRect& clip() const { return clip_; }

  // While set, every column written marks the tiles of the rows it touched, so that the
  // next frame can undo just those.
  void recordTiles(DirtyTiles* tiles) { dirty_ = tiles; }

 private:
  // Blends rows lo..hi (continuous, pixel j covers [j, j+1)) of one column.
  void blendSpan(int column, double lo, double hi, uint32_t pixel, const uint32_t* rowPixels);
  // Column range of the run (clipped) and reset of the per-column extents.
  bool prepareColumns(double minX, double maxX, double reach);

  uchar* bits_ = nullptr;
  qsizetype bytesPerLine_ = 0;
  QRect clip_;
  int firstColumn_ = 0;
  int lastColumn_ = -1;
  std::vector<double> lo_;
  std::vector<double> hi_;
  DirtyTiles* dirty_ = nullptr;

  void noteWritten(int column, int top, int bottom) {
    if (dirty_) dirty_->mark(column, top, bottom);
  }
};

}  // namespace qv::gui
