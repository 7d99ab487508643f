#include "gui/plot/StaticLayer.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace qv::gui {
namespace {

uint64_t rowHash(const uint32_t* row, int width) {
  uint64_t h = 1469598103934665603ull;
  for (int i = 0; i < width; ++i) h = (h ^ row[i]) * 1099511628211ull;
  return h;
}

}  // namespace

bool sameFrameBelowCharts(const PlotLook& a, const PlotLook& b) {
  return a.fullX == b.fullX && a.fullY == b.fullY && a.visibleX == b.visibleX &&
         a.visibleY == b.visibleY && a.gridStepX == b.gridStepX && a.gridStepY == b.gridStepY &&
         a.labels == b.labels && a.scaleVisible == b.scaleVisible &&
         a.labelsVisible == b.labelsVisible && a.overlaid == b.overlaid &&
         a.fontSize == b.fontSize && a.background == b.background &&
         a.chartsBackground == b.chartsBackground && a.border == b.border && a.grid == b.grid &&
         a.labelColor == b.labelColor && a.gridThickness == b.gridThickness &&
         a.labelColumn == b.labelColumn && a.units == b.units && a.unitColor == b.unitColor &&
         a.rightFactor == b.rightFactor && a.rightShown == b.rightShown &&
         a.xValueLabels == b.xValueLabels;
}

size_t StaticLayer::steadyCharts(const plot::ChartList& charts) {
  const auto& list = charts.charts();
  if (charts.generation() != seenGeneration_ || seenVersions_.size() != list.size()) {
    // Charts came, went or moved: every one starts its count again.
    seenGeneration_ = charts.generation();
    seenVersions_.assign(list.size(), 0);
    steadyFrames_.assign(list.size(), -1);
  }
  size_t steady = 0;
  bool below = true;
  for (size_t i = 0; i < list.size(); ++i) {
    const uint64_t version = list[i]->version();
    if (version == seenVersions_[i]) {
      steadyFrames_[i] = std::min(steadyFrames_[i] + 1, kSteadyFrames);
    } else {
      seenVersions_[i] = version;
      steadyFrames_[i] = 0;
    }
    below = below && steadyFrames_[i] >= kSteadyFrames;
    if (below) steady = i + 1;
  }
  return steady;
}

bool StaticLayer::holds(const PlotLook& look, const QImage& image, const plot::ChartList& charts,
                        size_t count) const {
  if (!valid_ || count != count_ || image.size() != deviceSize_ ||
      image.devicePixelRatio() != ratio_ || !sameFrameBelowCharts(look, look_)) {
    return false;
  }
  if (count == 0) return true;
  if (charts.generation() != generation_) return false;
  const auto& list = charts.charts();
  if (list.size() < count) return false;
  for (size_t i = 0; i < count; ++i) {
    if (list[i].get() != charts_[i] || list[i]->version() != versions_[i]) return false;
  }
  return true;
}

void StaticLayer::keep(const QImage& image, const PlotLook& look, const plot::ChartList& charts,
                       size_t count) {
  valid_ = true;
  deviceSize_ = image.size();
  ratio_ = image.devicePixelRatio();
  look_ = look;
  generation_ = charts.generation();
  count_ = count;
  charts_.clear();
  versions_.clear();
  // The versions seen before the charts were painted: a chart that changed since then
  // no longer matches, and the next frame draws it again.
  for (size_t i = 0; i < count && i < seenVersions_.size(); ++i) {
    charts_.push_back(charts.charts()[i].get());
    versions_.push_back(seenVersions_[i]);
  }
  count_ = charts_.size();

  const int width = image.width();
  const int height = image.height();
  const size_t strip = kStripPixels;
  strips_ = (width + kStripPixels - 1) / kStripPixels;
  // Rows that take more than half the whole image's bytes: a whole copy is simpler.
  const size_t limit = std::max<size_t>(8, static_cast<size_t>(strips_) * height / 2);
  rows_.clear();
  rowOf_.resize(static_cast<size_t>(strips_) * static_cast<size_t>(height));
  std::unordered_multimap<uint64_t, uint32_t> seen;
  uint32_t distinct = 0;
  bool fits = true;
  for (int k = 0; k < strips_ && fits; ++k) {
    const int x0 = k * kStripPixels;
    const int pixels = std::min(kStripPixels, width - x0);
    const size_t bytes = static_cast<size_t>(pixels) * sizeof(uint32_t);
    uint32_t* of = rowOf_.data() + static_cast<size_t>(k) * static_cast<size_t>(height);
    seen.clear();
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y)) + x0;
      // Most rows repeat the one above them.
      if (y > 0 && std::memcmp(rows_.data() + of[y - 1] * strip, row, bytes) == 0) {
        of[y] = of[y - 1];
        continue;
      }
      const uint64_t h = rowHash(row, pixels);
      uint32_t found = UINT32_MAX;
      for (auto [it, end] = seen.equal_range(h); it != end; ++it) {
        if (std::memcmp(rows_.data() + it->second * strip, row, bytes) == 0) {
          found = it->second;
          break;
        }
      }
      if (found == UINT32_MAX) {
        if (distinct >= limit) {
          fits = false;
          break;
        }
        found = distinct++;
        rows_.resize(static_cast<size_t>(distinct) * strip);
        std::memcpy(rows_.data() + found * strip, row, bytes);
        seen.emplace(h, found);
      }
      of[y] = found;
    }
  }
  if (fits) {
    whole_ = QImage();
    rows_.shrink_to_fit();
    rowOf_.shrink_to_fit();
  } else {
    rows_.clear();
    rows_.shrink_to_fit();
    whole_ = image.copy();
  }
}

size_t StaticLayer::pixelBytes() const {
  return whole_.isNull() ? rows_.size() * sizeof(uint32_t)
                         : static_cast<size_t>(whole_.sizeInBytes());
}

void StaticLayer::copyRow(uint32_t* to, int y, int x0, int x1) const {
  if (!whole_.isNull()) {
    std::memcpy(to + x0, reinterpret_cast<const uint32_t*>(whole_.constScanLine(y)) + x0,
                static_cast<size_t>(x1 - x0 + 1) * sizeof(uint32_t));
    return;
  }
  const size_t height = static_cast<size_t>(deviceSize_.height());
  for (int k = x0 / kStripPixels; k * kStripPixels <= x1; ++k) {
    const int from = std::max(x0, k * kStripPixels);
    const int last = std::min(x1, k * kStripPixels + kStripPixels - 1);
    const uint32_t* row =
        rows_.data() +
        size_t{rowOf_[static_cast<size_t>(k) * height + static_cast<size_t>(y)]} * kStripPixels;
    std::memcpy(to + from, row + (from - k * kStripPixels),
                static_cast<size_t>(last - from + 1) * sizeof(uint32_t));
  }
}

void StaticLayer::copyInto(QImage& image) const {
  const int height = std::min(image.height(), deviceSize_.height());
  const int width = std::min(image.width(), deviceSize_.width());
  if (width <= 0) return;
  for (int y = 0; y < height; ++y)
    copyRow(reinterpret_cast<uint32_t*>(image.scanLine(y)), y, 0, width - 1);
}

}  // namespace qv::gui

namespace qv::gui {

void StaticLayer::restoreInto(QImage& image, const DirtyTiles& drawn) const {
  const QRect bounds = QRect(QPoint(0, 0), deviceSize_) & image.rect();
  if (bounds.isEmpty() || drawn.count() == 0) return;
  // Curves all over the area: one plain copy is quicker than picking the tiles.
  if (drawn.count() * 2 > drawn.across() * drawn.down()) {
    copyInto(image);
    return;
  }
  uchar* bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  const int across =
      std::min(drawn.across(), (bounds.right() + DirtyTiles::kWidth) / DirtyTiles::kWidth);
  const int down =
      std::min(drawn.down(), (bounds.bottom() + DirtyTiles::kHeight) / DirtyTiles::kHeight);
  for (int ty = 0; ty < down; ++ty) {
    const int y0 = ty * DirtyTiles::kHeight;
    const int y1 = std::min(y0 + DirtyTiles::kHeight - 1, bounds.bottom());
    for (int tx = 0; tx < across; ++tx) {
      if (!drawn.marked(tx, ty)) continue;
      // Neighbouring tiles of the row in one run of memory.
      int end = tx + 1;
      while (end < across && drawn.marked(end, ty)) ++end;
      const int x0 = tx * DirtyTiles::kWidth;
      const int x1 = std::min(end * DirtyTiles::kWidth - 1, bounds.right());
      for (int y = y0; y <= y1; ++y)
        copyRow(reinterpret_cast<uint32_t*>(bits + y * stride), y, x0, x1);
      tx = end;
    }
  }
}

}  // namespace qv::gui
