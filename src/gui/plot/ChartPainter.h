#pragma once
// Draws the charts of a plot::ChartList, bottom first, into the chart area of a frame:
// lines, phase lines (broken where the phase wraps), filled lines and bands, phase dots,
// bars and spectrograms. Takes one snapshot per chart per frame into buffers that it keeps, so a
// warm frame allocates nothing for the data. Painting thread only.
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <cstdint>
#include <memory>
#include <vector>

#include "gui/plot/CurveRasterizer.h"
#include "plot/Chart.h"
#include "plot/ChartList.h"

namespace qv::gui {

// Data coordinates to device pixels for one frame.
struct PlotMapping {
  QRectF deviceChart;  // the chart area in device pixels (pixel edges on integers)
  double devicePixelRatio = 1.0;
  double x0 = 0.0;  // device x = x0 + xScale · x
  double xScale = 1.0;
  double y0 = 0.0;  // device y = y0 + yScale · y (yScale < 0: up is smaller y)
  double yScale = -1.0;
  double colorMin = 0.0;  // the value range a spectrogram's colour map spans
  double colorMax = 1.0;

  double deviceX(double x) const { return x0 + xScale * x; }
  double deviceY(double y) const { return y0 + yScale * y; }
};

class ChartPainter {
 public:
  // The charts at positions first..end-1, counted from the bottom. `painter` draws the
  // spectrograms; it may be null when there are none among them.
  void paintCharts(const plot::ChartList& charts, size_t first, size_t end,
                   const PlotMapping& mapping, CurveRasterizer& rasterizer, QPainter* painter);

  // 0..1 to a colour of the perceptual map the spectrograms use (dark to bright).
  static QRgb colorMapPixel(double t);

 private:
  struct Spectrogram {
    std::weak_ptr<plot::Chart> chart;
    const plot::Chart* key = nullptr;
    QImage history;  // newest row at the top
    uint64_t version = 0;
  };

  void paintLine(const plot::ChartSnapshot& s, const PlotMapping& m, CurveRasterizer& r);
  void paintDots(const plot::ChartSnapshot& s, const PlotMapping& m, CurveRasterizer& r);
  void paintBand(const plot::ChartSnapshot& s, const PlotMapping& m, CurveRasterizer& r);
  void paintBars(const plot::ChartSnapshot& s, const PlotMapping& m, CurveRasterizer& r);
  void paintSpectrogram(const std::shared_ptr<plot::Chart>& chart, const plot::ChartSnapshot& s,
                        const PlotMapping& m, QPainter& painter);
  Spectrogram& spectrogramFor(const std::shared_ptr<plot::Chart>& chart);
  void forgetDeletedSpectrograms(const plot::ChartList& charts);

  std::vector<plot::ChartSnapshot> snapshots_;
  std::vector<DevicePoint> run_;
  std::vector<uint32_t> rowPixels_;
  std::vector<Spectrogram> spectrograms_;
  uint64_t generation_ = ~uint64_t{0};
};

}  // namespace qv::gui
