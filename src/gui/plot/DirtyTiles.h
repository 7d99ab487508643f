#pragma once
// Where a frame drew moving content over the kept layer, as tiles of kWidth × kHeight device
// pixels: the next frame puts the layer back under those tiles only. A curve across the view
// touches few tiles, where a span per row (or per column) would reach from the curve's top
// to its bottom, or from another curve's.
// Painting thread only.
#include <QRect>
#include <QSize>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace qv::gui {

class DirtyTiles {
 public:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 8;

  // None marked, for a frame of `size` device pixels. Allocates only when the frame grows.
  void reset(QSize size) {
    size_ = size;
    across_ = (std::max(size.width(), 0) + kWidth - 1) / kWidth;
    down_ = (std::max(size.height(), 0) + kHeight - 1) / kHeight;
    marked_.assign(static_cast<size_t>(across_) * static_cast<size_t>(down_), 0);
    count_ = 0;
  }

  // Device column x, rows top..bottom, was written.
  void mark(int x, int top, int bottom) {
    if (x < 0 || x >= size_.width()) return;
    top = std::max(top, 0);
    bottom = std::min(bottom, size_.height() - 1);
    if (top > bottom) return;
    for (int ty = top / kHeight; ty <= bottom / kHeight; ++ty) markTile(x / kWidth, ty);
  }
  // A device rectangle was written.
  void mark(const QRect& r) {
    const QRect inside = r & QRect(QPoint(0, 0), size_);
    if (inside.isEmpty()) return;
    for (int ty = inside.top() / kHeight; ty <= inside.bottom() / kHeight; ++ty)
      for (int tx = inside.left() / kWidth; tx <= inside.right() / kWidth; ++tx) markTile(tx, ty);
  }

  bool marked(int tx, int ty) const {
    return marked_[static_cast<size_t>(ty) * static_cast<size_t>(across_) +
                   static_cast<size_t>(tx)] != 0;
  }
  int across() const { return across_; }
  int down() const { return down_; }
  // Tiles marked.
  int count() const { return count_; }

 private:
  void markTile(int tx, int ty) {
    uint8_t& m =
        marked_[static_cast<size_t>(ty) * static_cast<size_t>(across_) + static_cast<size_t>(tx)];
    count_ += m == 0 ? 1 : 0;
    m = 1;
  }

  QSize size_;
  int across_ = 0, down_ = 0, count_ = 0;
  std::vector<uint8_t> marked_;
};

}  // namespace qv::gui
