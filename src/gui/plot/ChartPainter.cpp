#include "gui/plot/ChartPainter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace qv::gui {
namespace {

// Far outside any image but still exact enough in double for the span arithmetic.
inline double clampDevice(double v) { return std::clamp(v, -1e6, 1e6); }

uint32_t pixelOf(const plot::ColorBytes& c) {
  return premultipliedPixel(c.red, c.green, c.blue, c.alpha);
}

// Anchors of a perceptual dark-to-bright map (black, purple, red, orange, pale yellow):
// lightness rises evenly, so equal steps of level look like equal steps of colour.
constexpr std::array<std::array<uint8_t, 3>, 11> kMapAnchors{{{0, 0, 4},
                                                              {22, 11, 57},
                                                              {66, 10, 104},
                                                              {106, 23, 110},
                                                              {147, 38, 103},
                                                              {188, 55, 84},
                                                              {221, 81, 58},
                                                              {243, 118, 27},
                                                              {252, 165, 10},
                                                              {246, 215, 70},
                                                              {252, 255, 164}}};

std::array<QRgb, 256> makeColorMap() {
  std::array<QRgb, 256> map{};
  for (int i = 0; i < 256; ++i) {
    const double pos = i / 255.0 * (kMapAnchors.size() - 1);
    const size_t k = std::min(static_cast<size_t>(pos), kMapAnchors.size() - 2);
    const double f = pos - static_cast<double>(k);
    int rgb[3];
    for (int c = 0; c < 3; ++c) {
      rgb[c] =
          static_cast<int>(std::lround(kMapAnchors[k][c] * (1.0 - f) + kMapAnchors[k + 1][c] * f));
    }
    map[static_cast<size_t>(i)] = qRgb(rgb[0], rgb[1], rgb[2]);
  }
  return map;
}

}  // namespace

QRgb ChartPainter::colorMapPixel(double t) {
  static const std::array<QRgb, 256> map = makeColorMap();
  if (!(t > 0.0)) return map[0];
  // t is in (0, 1] here, so adding a half and truncating rounds; lround would cost a call
  // for every pixel of a colour map.
  // NOLINTNEXTLINE(bugprone-incorrect-roundings)
  return map[static_cast<size_t>(std::min(t, 1.0) * 255.0 + 0.5)];
}

void ChartPainter::paintCharts(const plot::ChartList& charts, size_t first, size_t end,
                               const PlotMapping& mapping, CurveRasterizer& rasterizer,
                               QPainter* painter) {
  if (charts.generation() != generation_) {
    forgetDeletedSpectrograms(charts);
    generation_ = charts.generation();
  }
  const auto& list = charts.charts();
  if (snapshots_.size() < list.size()) snapshots_.resize(list.size());
  end = std::min(end, list.size());
  for (size_t i = first; i < end; ++i) {
    plot::ChartSnapshot& s = snapshots_[i];
    list[i]->snapshot(s);
    switch (s.kind) {
      case plot::kChartFilledLine:
        if (s.x.count > 0 && s.values.size() == 2 * static_cast<size_t>(s.x.count)) {
          paintBand(s, mapping, rasterizer);
          break;
        }
        [[fallthrough]];
      case plot::kChartLine:
      case plot::kChartPhaseLine:
        paintLine(s, mapping, rasterizer);
        break;
      case plot::kChartPhaseDots:
        paintDots(s, mapping, rasterizer);
        break;
      case plot::kChartBar:
        paintBars(s, mapping, rasterizer);
        break;
      case plot::kChartSpectrogram:
        if (painter) paintSpectrogram(list[i], s, mapping, *painter);
        break;
      default:
        break;
    }
  }
}

namespace {

// Where the evenly spaced points of a snapshot land across the device.
struct PointSpacing {
  double first = 0.0;
  double step = 0.0;
  int count = 0;
};

PointSpacing spacingOf(const plot::ChartSnapshot& s, const PlotMapping& m) {
  PointSpacing p;
  p.count = std::min(static_cast<int>(s.values.size()), s.x.count);
  p.first = m.deviceX(s.x.firstX);
  if (s.x.count > 1) p.step = (m.deviceX(s.x.lastX) - p.first) / (s.x.count - 1);
  return p;
}

double deviceWidth(const plot::ChartSnapshot& s, const PlotMapping& m) {
  return s.thickness > 0.0f ? s.thickness * m.devicePixelRatio : 1.0;
}

}  // namespace

void ChartPainter::paintLine(const plot::ChartSnapshot& s, const PlotMapping& m,
                             CurveRasterizer& r) {
  const PointSpacing sp = spacingOf(s, m);
  if (sp.count <= 0) return;
  const bool phase = s.kind == plot::kChartPhaseLine;
  const bool filled = s.kind == plot::kChartFilledLine;
  const double width = deviceWidth(s, m);
  const uint32_t pixel = pixelOf(s.color);
  plot::ColorBytes fillColor = s.color;
  fillColor.alpha = static_cast<uint8_t>(fillColor.alpha / 4);
  const uint32_t fillPixel = pixelOf(fillColor);
  const double baseline = m.deviceChart.bottom();

  if (run_.capacity() < static_cast<size_t>(sp.count) + 2) run_.reserve(sp.count + 2);
  run_.clear();
  auto flush = [&] {
    if (run_.empty()) return;
    const int n = static_cast<int>(run_.size());
    if (filled) r.fillRunToBaseline(run_.data(), n, baseline, fillPixel);
    r.strokeRun(run_.data(), n, width, pixel);
    run_.clear();
  };

  float previous = 0.0f;
  for (int i = 0; i < sp.count; ++i) {
    const float v = s.values[static_cast<size_t>(i)];
    if (!std::isfinite(v)) {  // a blanked value is a gap, never a line through 0
      flush();
      continue;
    }
    const double x = sp.first + sp.step * i;
    if (phase && !run_.empty() && std::abs(v - previous) > 180.0f) {
      // The phase wrapped: each branch runs on to the edge it crossed, and the path
      // breaks there instead of falling across the chart.
      const bool down = previous > v;
      const double edge = down ? 180.0 : -180.0;
      const double unwrapped = down ? v + 360.0 : v - 360.0;
      const double denominator = unwrapped - previous;
      const double t =
          denominator != 0.0 ? std::clamp((edge - previous) / denominator, 0.0, 1.0) : 0.5;
      const double xw = run_.back().x + t * (x - run_.back().x);
      run_.push_back({xw, clampDevice(m.deviceY(edge))});
      flush();
      run_.push_back({xw, clampDevice(m.deviceY(-edge))});
    }
    run_.push_back({x, clampDevice(m.deviceY(v))});
    previous = v;
  }
  flush();
}

void ChartPainter::paintBand(const plot::ChartSnapshot& s, const PlotMapping& m,
                             CurveRasterizer& r) {
  const PointSpacing sp = spacingOf(s, m);
  if (sp.count < 2 || sp.step <= 0.0) return;
  const float* lower = s.values.data();
  const float* upper = lower + sp.count;
  const uint32_t pixel = pixelOf(s.color);
  // Column by column, both edges interpolated at the column's centre: the band has no
  // stroke of its own, so its edges are exactly where the values put them.
  const QRect& clip = r.clip();
  const double last = sp.first + sp.step * (sp.count - 1);
  const int from = std::max(clip.left(), static_cast<int>(std::floor(sp.first)));
  const int to = std::min(clip.right(), static_cast<int>(std::ceil(last)));
  for (int column = from; column <= to; ++column) {
    const double t = (column + 0.5 - sp.first) / sp.step;
    if (t < 0.0 || t > sp.count - 1) continue;
    const int i = std::min(static_cast<int>(t), sp.count - 2);
    const double f = t - i;
    const double lo = lower[i] + f * (lower[i + 1] - lower[i]);
    const double hi = upper[i] + f * (upper[i + 1] - upper[i]);
    if (!std::isfinite(lo) || !std::isfinite(hi)) continue;  // outside the band's span
    const double top = clampDevice(m.deviceY(std::max(lo, hi)));
    const double bottom = clampDevice(m.deviceY(std::min(lo, hi)));
    r.fillRect(column, column + 1, top, bottom, pixel);
  }
}

void ChartPainter::paintDots(const plot::ChartSnapshot& s, const PlotMapping& m,
                             CurveRasterizer& r) {
  const PointSpacing sp = spacingOf(s, m);
  const double size = std::max(deviceWidth(s, m) * 1.5, 2.0 * m.devicePixelRatio);
  const uint32_t pixel = pixelOf(s.color);
  for (int i = 0; i < sp.count; ++i) {
    const float v = s.values[static_cast<size_t>(i)];
    if (std::isfinite(v))
      r.fillDot({sp.first + sp.step * i, clampDevice(m.deviceY(v))}, size, pixel);
  }
}

void ChartPainter::paintBars(const plot::ChartSnapshot& s, const PlotMapping& m,
                             CurveRasterizer& r) {
  const PointSpacing sp = spacingOf(s, m);
  if (sp.count <= 0) return;
  // Bars rise from the bottom of the chart area; the first colour shows at the top of
  // the area and the second at the bottom, so a bar's colour tells its height.
  const QRect& clip = r.clip();
  const size_t rows = static_cast<size_t>(std::max(clip.height(), 0));
  if (rowPixels_.size() < rows) rowPixels_.resize(rows);
  for (size_t j = 0; j < rows; ++j) {
    const double t = rows > 1 ? static_cast<double>(j) / static_cast<double>(rows - 1) : 0.0;
    auto mix = [t](uint8_t top, uint8_t bottom) {
      return static_cast<uint8_t>(std::lround(top * (1.0 - t) + bottom * t));
    };
    rowPixels_[j] =
        premultipliedPixel(mix(s.color.red, s.color2.red), mix(s.color.green, s.color2.green),
                           mix(s.color.blue, s.color2.blue), mix(s.color.alpha, s.color2.alpha));
  }
  const double pitch = sp.count > 1 ? std::abs(sp.step) : 8.0 * m.devicePixelRatio;
  const double gap = pitch >= 4.0 ? std::max(1.0, pitch * 0.15) : 0.0;
  const double half = (pitch - gap) / 2.0;
  const double baseline = m.deviceChart.bottom();
  for (int i = 0; i < sp.count; ++i) {
    const float v = s.values[static_cast<size_t>(i)];
    if (!std::isfinite(v)) continue;
    const double x = sp.first + sp.step * i;
    const double top = clampDevice(m.deviceY(v));
    if (top < baseline) r.fillRect(x - half, x + half, top, baseline, 0, rowPixels_.data());
  }
}

ChartPainter::Spectrogram& ChartPainter::spectrogramFor(const std::shared_ptr<plot::Chart>& chart) {
  for (Spectrogram& sp : spectrograms_) {
    if (sp.key == chart.get() && sp.chart.lock() == chart) return sp;
  }
  spectrograms_.push_back({chart, chart.get(), QImage(), 0});
  return spectrograms_.back();
}

void ChartPainter::forgetDeletedSpectrograms(const plot::ChartList& charts) {
  std::erase_if(spectrograms_, [&](const Spectrogram& sp) {
    const auto chart = sp.chart.lock();
    return !chart || !charts.contains(chart.get());
  });
}

void ChartPainter::paintSpectrogram(const std::shared_ptr<plot::Chart>& chart,
                                    const plot::ChartSnapshot& s, const PlotMapping& m,
                                    QPainter& painter) {
  const int width = s.x.count;
  const int rows = std::max(1, chart->sizeByTime());
  if (width <= 0) return;
  Spectrogram& sp = spectrogramFor(chart);
  if (sp.history.width() != width || sp.history.height() != rows) {
    sp.history = QImage(width, rows, QImage::Format_ARGB32_Premultiplied);
    sp.history.fill(Qt::transparent);
    sp.version = 0;
  }
  if (s.hasData && s.version != sp.version) {
    // Every new set of values is the newest row; older rows move one down.
    sp.version = s.version;
    const qsizetype bpl = sp.history.bytesPerLine();
    uchar* bits = sp.history.bits();
    if (rows > 1) std::memmove(bits + bpl, bits, static_cast<size_t>(bpl) * (rows - 1));
    auto* row = reinterpret_cast<QRgb*>(bits);
    const double span = m.colorMax - m.colorMin;
    for (int c = 0; c < width; ++c) {
      const float v =
          c < static_cast<int>(s.values.size()) ? s.values[static_cast<size_t>(c)] : NAN;
      row[c] = std::isfinite(v) && span > 0.0 ? colorMapPixel((v - m.colorMin) / span) : 0u;
    }
  }
  const double first = m.deviceX(s.x.firstX);
  const double last = m.deviceX(s.x.lastX);
  const double half = width > 1 ? (last - first) / (width - 1) / 2.0 : m.deviceChart.width() / 2.0;
  const double dpr = m.devicePixelRatio;
  const QRectF target((first - half) / dpr, m.deviceChart.top() / dpr,
                      (last - first + 2 * half) / dpr, m.deviceChart.height() / dpr);
  painter.drawImage(target, sp.history);
}

}  // namespace qv::gui
