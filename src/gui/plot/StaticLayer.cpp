#include "gui/plot/StaticLayer.h"

#include <algorithm>
#include <climits>
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
  const size_t rowPixels = static_cast<size_t>(width);
  // More distinct rows than this and a whole copy is simpler and not much larger.
  const size_t limit = static_cast<size_t>(std::max(8, height / 4));
  rows_.clear();
  rowOf_.resize(static_cast<size_t>(height));
  std::unordered_multimap<uint64_t, uint32_t> seen;
  bool fits = true;
  for (int y = 0; y < height && fits; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    const size_t bytes = rowPixels * sizeof(uint32_t);
    // Most rows repeat the one above them.
    if (y > 0) {
      const uint32_t previous = rowOf_[static_cast<size_t>(y - 1)];
      if (std::memcmp(rows_.data() + previous * rowPixels, row, bytes) == 0) {
        rowOf_[static_cast<size_t>(y)] = previous;
        continue;
      }
    }
    const uint64_t h = rowHash(row, width);
    uint32_t found = UINT32_MAX;
    for (auto [it, end] = seen.equal_range(h); it != end; ++it) {
      if (std::memcmp(rows_.data() + it->second * rowPixels, row, bytes) == 0) {
        found = it->second;
        break;
      }
    }
    if (found == UINT32_MAX) {
      found = static_cast<uint32_t>(rows_.size() / std::max<size_t>(rowPixels, 1));
      if (found >= limit) {
        fits = false;
        break;
      }
      rows_.insert(rows_.end(), row, row + rowPixels);
      seen.emplace(h, found);
    }
    rowOf_[static_cast<size_t>(y)] = found;
  }
  if (fits) {
    whole_ = QImage();
    rows_.shrink_to_fit();
  } else {
    rows_.clear();
    rows_.shrink_to_fit();
    whole_ = image.copy();
  }
}

void StaticLayer::copyInto(QImage& image) const {
  const int height = std::min(image.height(), deviceSize_.height());
  const size_t bytes = static_cast<size_t>(std::min(image.width(), deviceSize_.width())) * 4;
  if (!whole_.isNull()) {
    for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), whole_.constScanLine(y), bytes);
    return;
  }
  const size_t rowPixels = static_cast<size_t>(deviceSize_.width());
  for (int y = 0; y < height; ++y) {
    std::memcpy(image.scanLine(y), rows_.data() + rowOf_[static_cast<size_t>(y)] * rowPixels,
                bytes);
  }
}

}  // namespace qv::gui

namespace qv::gui {

void StaticLayer::restoreInto(QImage& image, const std::vector<int>& top,
                              const std::vector<int>& bottom, const std::vector<QRect>& rects) {
  const QRect bounds = QRect(QPoint(0, 0), deviceSize_) & image.rect();
  const int columns = std::min(bounds.width(), static_cast<int>(top.size()));
  int64_t drawn = 0;
  for (int c = 0; c < columns; ++c) {
    const size_t i = static_cast<size_t>(c);
    if (top[i] <= bottom[i]) drawn += int64_t{bottom[i]} - top[i] + 1;
  }
  // Curves all over the area: one plain copy is quicker than picking the pixels.
  if (drawn * 2 > int64_t{bounds.width()} * bounds.height()) {
    copyInto(image);
    return;
  }
  const size_t rowPixels = static_cast<size_t>(deviceSize_.width());
  auto layerRow = [&](int y) {
    return whole_.isNull() ? rows_.data() + rowOf_[static_cast<size_t>(y)] * rowPixels
                           : reinterpret_cast<const uint32_t*>(whole_.constScanLine(y));
  };
  uchar* bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  auto copyRow = [&](int y, int x0, int x1) {
    std::memcpy(bits + y * stride + x0 * 4, layerRow(y) + x0, static_cast<size_t>(x1 - x0 + 1) * 4);
  };
  for (const QRect& given : rects) {
    const QRect r = given & bounds;
    for (int y = r.top(); y <= r.bottom(); ++y) copyRow(y, r.left(), r.right());
  }
  // Row by row, from the first to the last column drawn in that row: whole runs of memory
  // rather than single pixels down a column. Each row takes the first (then the last)
  // column that covers it; rows already taken are skipped through `nextFree_`, so the
  // whole search costs about one step per row and per column.
  const int rows = bounds.height();
  auto assign = [&](std::vector<int>& out, int from, int to, int step) {
    out.assign(static_cast<size_t>(rows), -1);
    nextFree_.resize(static_cast<size_t>(rows) + 1);
    for (int y = 0; y <= rows; ++y) nextFree_[static_cast<size_t>(y)] = y;
    auto find = [&](int y) {
      int root = y;
      while (nextFree_[static_cast<size_t>(root)] != root)
        root = nextFree_[static_cast<size_t>(root)];
      while (nextFree_[static_cast<size_t>(y)] != root) {
        const int next = nextFree_[static_cast<size_t>(y)];
        nextFree_[static_cast<size_t>(y)] = root;
        y = next;
      }
      return root;
    };
    for (int c = from; c != to; c += step) {
      const int y0 = std::max(top[static_cast<size_t>(c)], 0);
      const int y1 = std::min(bottom[static_cast<size_t>(c)], rows - 1);
      for (int y = y0 <= y1 ? find(y0) : rows; y <= y1; y = find(y + 1)) {
        out[static_cast<size_t>(y)] = c;
        nextFree_[static_cast<size_t>(y)] = y + 1;
      }
    }
  };
  assign(firstColumn_, 0, columns, 1);
  assign(lastColumn_, columns - 1, -1, -1);
  for (int y = 0; y < bounds.height(); ++y) {
    const size_t j = static_cast<size_t>(y);
    if (firstColumn_[j] >= 0) copyRow(y, firstColumn_[j], lastColumn_[j]);
  }
}

}  // namespace qv::gui
