#include "gui/plot/CurveRasterizer.h"

#include <QColor>
#include <algorithm>
#include <cmath>
#include <limits>

namespace qv::gui {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// x · a / 255 on all four channels at once.
inline uint32_t byteMul(uint32_t x, uint32_t a) {
  uint32_t t = (x & 0xff00ffu) * a;
  t = ((t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
  x = ((x >> 8) & 0xff00ffu) * a;
  x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
  return x | t;
}

inline void widenByDisk(double xc, const DevicePoint& p, double r, double& lo, double& hi) {
  const double ex = xc - p.x;
  const double h2 = r * r - ex * ex;
  if (h2 < 0.0) return;
  const double h = std::sqrt(h2);
  lo = std::min(lo, p.y - h);
  hi = std::max(hi, p.y + h);
}

// Column indices are ints; anything far outside the image is held well inside int.
inline int columnFloor(double x) { return static_cast<int>(std::floor(std::clamp(x, -1e8, 1e8))); }
inline int columnCeil(double x) { return static_cast<int>(std::ceil(std::clamp(x, -1e8, 1e8))); }

}  // namespace

uint32_t premultipliedPixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  return qPremultiply(qRgba(red, green, blue, alpha));
}

void CurveRasterizer::begin(uchar* bits, qsizetype bytesPerLine, QRect clip) {
  bits_ = bits;
  bytesPerLine_ = bytesPerLine;
  clip_ = clip;
}

bool CurveRasterizer::prepareColumns(double minX, double maxX, double reach) {
  if (!bits_ || clip_.isEmpty()) return false;
  firstColumn_ = std::max(clip_.left(), columnFloor(minX - reach));
  lastColumn_ = std::min(clip_.right(), columnCeil(maxX + reach));
  if (firstColumn_ > lastColumn_) return false;
  const int columns = lastColumn_ - firstColumn_ + 1;
  const auto n = static_cast<size_t>(columns);
  if (lo_.size() < n) {
    lo_.resize(n);
    hi_.resize(n);
  }
  std::fill_n(lo_.begin(), n, kInf);
  std::fill_n(hi_.begin(), n, -kInf);
  return true;
}

void CurveRasterizer::strokeRun(const DevicePoint* points, int count, double width,
                                uint32_t pixel) {
  if (count <= 0 || !(width > 0.0)) return;
  if (width < 1.0) {
    pixel = byteMul(pixel, static_cast<uint32_t>(std::lround(width * 255.0)));
    width = 1.0;
  }
  const double r = width / 2.0;
  if (!prepareColumns(points[0].x, points[count - 1].x, r)) return;

  auto columnsNear = [&](double x0, double x1, int& c0, int& c1) {
    c0 = std::max(firstColumn_, columnCeil(x0 - r - 0.5));
    c1 = std::min(lastColumn_, columnFloor(x1 + r - 0.5));
    return c0 <= c1;
  };
  int c0 = 0;
  int c1 = 0;
  if (columnsNear(points[0].x, points[0].x, c0, c1)) {
    for (int c = c0; c <= c1; ++c) {
      widenByDisk(c + 0.5, points[0], r, lo_[c - firstColumn_], hi_[c - firstColumn_]);
    }
  }
  // Each segment widens the spans of the columns whose centres lie within r of it by
  // the part of the centre line that is within r of the segment (a capsule: convex, so
  // that part is one interval). The round end at b is added here; the one at a came
  // with the previous segment.
  for (int i = 0; i + 1 < count; ++i) {
    const DevicePoint& a = points[i];
    const DevicePoint& b = points[i + 1];
    if (!columnsNear(std::min(a.x, b.x), std::max(a.x, b.x), c0, c1)) continue;
    double* lo = lo_.data() - firstColumn_;
    double* hi = hi_.data() - firstColumn_;
    const int d0 = std::max(c0, columnCeil(b.x - r - 0.5));
    const int d1 = std::min(c1, columnFloor(b.x + r - 0.5));
    for (int c = d0; c <= d1; ++c) widenByDisk(c + 0.5, b, r, lo[c], hi[c]);
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    if (dx == 0.0) {
      if (dy == 0.0) continue;
      const double top = std::min(a.y, b.y);
      const double bottom = std::max(a.y, b.y);
      for (int c = c0; c <= c1; ++c) {
        if (std::abs(c + 0.5 - a.x) > r) continue;
        lo[c] = std::min(lo[c], top);
        hi[c] = std::max(hi[c], bottom);
      }
      continue;
    }
    const double len2 = dx * dx + dy * dy;
    const double slope = dy / dx;
    const double half = r * std::sqrt(len2) / std::abs(dx);
    // Only where the centre line projects onto the segment itself: the band across the
    // segment, bounded by the two perpendiculars at its ends.
    const double invDy = dy != 0.0 ? 1.0 / dy : 0.0;
    for (int c = c0; c <= c1; ++c) {
      const double xc = c + 0.5 - a.x;
      const double centre = a.y + xc * slope;
      double bandLo = centre - half;
      double bandHi = centre + half;
      const double s = xc * dx;
      if (dy == 0.0) {
        if (s < 0.0 || s > len2) continue;
      } else {
        const double y0 = a.y - s * invDy;
        const double y1 = a.y + (len2 - s) * invDy;
        bandLo = std::max(bandLo, std::min(y0, y1));
        bandHi = std::min(bandHi, std::max(y0, y1));
      }
      if (bandLo <= bandHi) {
        lo[c] = std::min(lo[c], bandLo);
        hi[c] = std::max(hi[c], bandHi);
      }
    }
  }
  for (int c = firstColumn_; c <= lastColumn_; ++c) {
    blendSpan(c, lo_[c - firstColumn_], hi_[c - firstColumn_], pixel, nullptr);
  }
}

void CurveRasterizer::fillRunToBaseline(const DevicePoint* points, int count, double baseline,
                                        uint32_t pixel) {
  if (count < 2) return;
  if (!prepareColumns(points[0].x, points[count - 1].x, 0.0)) return;
  for (int i = 0; i + 1 < count; ++i) {
    const DevicePoint& a = points[i];
    const DevicePoint& b = points[i + 1];
    if (!(b.x > a.x)) continue;
    const int c0 = std::max(firstColumn_, columnCeil(a.x - 0.5));
    const int c1 = std::min(lastColumn_, columnCeil(b.x - 0.5) - 1);
    for (int c = c0; c <= c1; ++c) {
      const double y = a.y + (c + 0.5 - a.x) * (b.y - a.y) / (b.x - a.x);
      lo_[c - firstColumn_] = std::min(y, baseline);
      hi_[c - firstColumn_] = std::max(y, baseline);
    }
  }
  for (int c = firstColumn_; c <= lastColumn_; ++c) {
    blendSpan(c, lo_[c - firstColumn_], hi_[c - firstColumn_], pixel, nullptr);
  }
}

void CurveRasterizer::fillRect(double x0, double x1, double top, double bottom, uint32_t pixel,
                               const uint32_t* rowPixels) {
  if (!bits_ || !(x0 <= x1)) return;
  int c0 = columnCeil(x0 - 0.5);
  int c1 = columnFloor(x1 - 0.5);
  if (c0 > c1) c0 = c1 = columnFloor((x0 + x1) / 2.0);  // never let a narrow bar vanish
  c0 = std::max(c0, clip_.left());
  c1 = std::min(c1, clip_.right());
  for (int c = c0; c <= c1; ++c) blendSpan(c, top, bottom, pixel, rowPixels);
}

void CurveRasterizer::fillDot(DevicePoint p, double size, uint32_t pixel) {
  const double h = std::max(size, 1.0) / 2.0;
  fillRect(p.x - h, p.x + h, p.y - h, p.y + h, pixel);
}

void CurveRasterizer::fillBlock(QRect block, uint32_t pixel) {
  block &= clip_;
  if (!bits_ || block.isEmpty()) return;
  const uint32_t alpha = pixel >> 24;
  if (alpha == 0) return;
  if (dirty_) dirty_->mark(block);
  for (int j = block.top(); j <= block.bottom(); ++j) {
    auto* dst = reinterpret_cast<uint32_t*>(bits_ + j * bytesPerLine_) + block.left();
    if (alpha == 255) {
      std::fill_n(dst, block.width(), pixel);
    } else {
      for (int i = 0; i < block.width(); ++i) dst[i] = pixel + byteMul(dst[i], 255 - alpha);
    }
  }
}

void CurveRasterizer::blendSpan(int column, double lo, double hi, uint32_t pixel,
                                const uint32_t* rowPixels) {
  const double top = std::max(lo, static_cast<double>(clip_.top()));
  const double bottom = std::min(hi, static_cast<double>(clip_.bottom() + 1));
  if (!(top < bottom)) return;
  const int j0 = static_cast<int>(top);
  const int j1 = static_cast<int>(std::ceil(bottom)) - 1;
  noteWritten(column, j0, j1);
  uchar* const base = bits_ + static_cast<qsizetype>(column) * 4;
  auto put = [&](int j, uint32_t src) {
    const uint32_t alpha = src >> 24;
    auto* dst = reinterpret_cast<uint32_t*>(base + j * bytesPerLine_);
    if (alpha == 255) {
      *dst = src;
    } else if (alpha != 0) {
      *dst = src + byteMul(*dst, 255 - alpha);
    }
  };
  auto partial = [&](int j, double coverage) {
    const uint32_t src = rowPixels ? rowPixels[j - clip_.top()] : pixel;
    // Coverage is in [0, 1): adding a half and truncating rounds without a call per pixel.
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    const auto alpha = static_cast<uint32_t>(coverage * 255.0 + 0.5);
    put(j, coverage < 0.998 ? byteMul(src, alpha) : src);
  };
  if (j0 == j1) {
    partial(j0, bottom - top);
    return;
  }
  partial(j0, j0 + 1.0 - top);
  partial(j1, bottom - j1);
  if (rowPixels) {
    for (int j = j0 + 1; j < j1; ++j) put(j, rowPixels[j - clip_.top()]);
  } else if ((pixel >> 24) == 255) {
    uchar* row = base + (j0 + 1) * bytesPerLine_;
    for (int j = j0 + 1; j < j1; ++j, row += bytesPerLine_)
      *reinterpret_cast<uint32_t*>(row) = pixel;
  } else {
    for (int j = j0 + 1; j < j1; ++j) put(j, pixel);
  }
}

}  // namespace qv::gui
