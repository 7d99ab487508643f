#pragma once
// The part of a plot view's frame that stays while the live curves move: backgrounds, grid
// and the charts at the bottom that have kept their data for a few frames (the zero lines,
// captured traces). A frame starts as a copy of it instead of drawing all that again.
// Kept in strips of kStripPixels device columns, each as its distinct rows (a grid makes a
// handful of kinds of row; the labels' text only those of the strips it lies in), or as a
// whole image when that is not much smaller. Painting thread only (the main thread).
#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <vector>

#include "gui/plot/DirtyTiles.h"
#include "gui/plot/PlotLook.h"
#include "plot/ChartList.h"

namespace qv::gui {

class StaticLayer {
 public:
  // Charts that have shown the same data over this many frames in a row may join.
  static constexpr int kSteadyFrames = 3;
  // Wide enough that a row is copied in a few runs, narrow enough that a column of labels
  // makes only its own strip's rows distinct.
  static constexpr int kStripPixels = 256;

  // How many charts, counted from the bottom, have been steady; call once per frame.
  size_t steadyCharts(const plot::ChartList& charts);
  // Whether the layer is the frame below the first `count` charts for this look and image.
  bool holds(const PlotLook& look, const QImage& image, const plot::ChartList& charts,
             size_t count) const;
  // Keeps what `image` shows now: the frame below the first `count` charts, which
  // steadyCharts has just counted in this frame.
  void keep(const QImage& image, const PlotLook& look, const plot::ChartList& charts, size_t count);
  // Copies the layer into an image of the size it was kept from.
  void copyInto(QImage& image) const;
  // Puts the layer back under the tiles the last frame drew over.
  void restoreInto(QImage& image, const DirtyTiles& drawn) const;
  // How many charts the layer holds.
  size_t chartCount() const { return count_; }
  // Whether it is kept as distinct rows (how few bytes it takes) rather than whole.
  bool keptAsRows() const { return whole_.isNull() && valid_; }
  // The bytes it holds the pixels in.
  size_t pixelBytes() const;

 private:
  bool valid_ = false;
  QSize deviceSize_;
  double ratio_ = 0.0;
  PlotLook look_;
  uint64_t generation_ = 0;
  size_t count_ = 0;
  std::vector<const plot::Chart*> charts_;
  std::vector<uint64_t> versions_;
  // Copies device row y's pixels x0..x1 (inclusive) of the layer to `to`.
  void copyRow(uint32_t* to, int y, int x0, int x1) const;

  int strips_ = 0;
  std::vector<uint32_t> rows_;   // the distinct strip rows, kStripPixels apart
  std::vector<uint32_t> rowOf_;  // per strip, then per image row: which distinct row it is
  QImage whole_;                 // instead of rows when they are many

  // Per chart position: the version last seen and for how many frames it has stayed.
  uint64_t seenGeneration_ = ~uint64_t{0};
  std::vector<uint64_t> seenVersions_;
  std::vector<int> steadyFrames_;
};

}  // namespace qv::gui
