// The kept layer of a plot view: held in few bytes when its rows repeat (a grid, with a column
// of labels beside it), and put back pixel for pixel, across the strips it is held in.
#include <gtest/gtest.h>

#include <QImage>
#include <vector>

#include "gui/plot/StaticLayer.h"

namespace {

using qv::gui::StaticLayer;

// A measurement view's frame: a column of label text at the left (every row different), a
// grid over the rest, a label strip along the bottom.
QImage gridWithLabels(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const bool label = x < 40 || y >= height - 12;
      const bool grid = y % 25 == 0 || x % 90 == 0;
      row[x] = label  ? 0xff000000u | static_cast<uint32_t>((x * 7 + y * 13) % 251)
               : grid ? 0xff505050u
                      : 0xff000000u;
    }
  }
  return image;
}

TEST(StaticLayerTest, GridWithLabelsIsKeptSmallAndPutBackExactly) {
  const QImage original = gridWithLabels(1000, 300);
  StaticLayer layer;
  layer.keep(original, {}, qv::plot::ChartList(), 0);
  ASSERT_TRUE(layer.keptAsRows());
  // The first strip holds all 300 rows (the labels in it differ row by row); each of the
  // other three only its 12 label rows and its two kinds of grid row. A whole copy is 1.2 MB.
  const size_t stripRow = StaticLayer::kStripPixels * sizeof(uint32_t);
  EXPECT_LE(layer.pixelBytes(), (300 + 3 * (12 + 2)) * stripRow);
  QImage frame(original.size(), original.format());
  frame.fill(Qt::red);
  layer.copyInto(frame);
  EXPECT_EQ(frame, original);

  // A curve drawn across the strip boundaries at 256 and 512, and a cursor box: putting back
  // the tiles drawn over leaves the kept frame, and only those are copied (a pixel changed
  // far from them stays as it is).
  qv::gui::DirtyTiles drawn;
  drawn.reset(frame.size());
  for (int x = 200; x < 600; ++x) {
    const int top = 100 + x % 37;
    for (int y = top; y <= top + 3; ++y) frame.setPixel(x, y, 0xffffffffu);
    drawn.mark(x, top, top + 3);
  }
  const QRect cursor(250, 20, 20, 260);
  for (int y = cursor.top(); y <= cursor.bottom(); ++y)
    for (int x = cursor.left(); x <= cursor.right(); ++x) frame.setPixel(x, y, 0xff00ff00u);
  drawn.mark(cursor);
  frame.setPixel(900, 290, 0xffff0000u);
  layer.restoreInto(frame, drawn);
  EXPECT_EQ(frame.pixel(900, 290), 0xffff0000u);
  frame.setPixel(900, 290, original.pixel(900, 290));
  EXPECT_EQ(frame, original);
}

TEST(StaticLayerTest, RowsAllDifferentAreKeptWhole) {
  QImage noise(300, 100, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) noise.setPixel(x, y, 0xff000000u | ((x * 31 + y * 17) & 0xff));
  StaticLayer layer;
  layer.keep(noise, {}, qv::plot::ChartList(), 0);
  EXPECT_FALSE(layer.keptAsRows());
  QImage frame(noise.size(), noise.format());
  layer.copyInto(frame);
  EXPECT_EQ(frame, noise);
}

}  // namespace
