// The level meter's dBFS scale: labels where the bar ends for their level, whole and apart
// at the size the meter has in the top bar, drawn once with the scale.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <cmath>

#include "gui/Theme.h"
#include "gui/display/QVLevelMeterBackLayer.h"
#include "gui/display/QVLevelMeterUpdateLayer.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

const QSizeF kMeterSize(theme::mainview::kLevelMeterWidth, theme::mainview::kLevelMeterHeight);

QVLevelMeterBackLayer meterLayer() {
  QVLevelMeterBackLayer layer;
  layer.setLineWidth(theme::kMeterLineWidth);
  return layer;
}

TEST(LevelMeterDbScaleTest, MarksLieWhereTheBarEndsForTheirLevel) {
  // -20 dBFS is a level of 0.1: (log10(0.1 + 0.001) + 3) / 3 of the width = 0.66809.
  EXPECT_NEAR(QVLevelMeterBackLayer::xForDb(-20.0, 300.0), 200.43, 0.01);
  // 0 dBFS is the right edge (the formula puts it a hair beyond).
  EXPECT_DOUBLE_EQ(QVLevelMeterBackLayer::xForDb(0.0, 300.0), 300.0);
  EXPECT_EQ(QVLevelMeterBackLayer::labelText(-20.0), "\u221220");
  EXPECT_EQ(QVLevelMeterBackLayer::labelText(0.0), "0");
}

TEST(LevelMeterDbScaleTest, LabelsAreWholeApartAndCentredOnTheirTicksInTheTopBar) {
  const QVLevelMeterBackLayer layer = meterLayer();
  const std::vector<QRectF> rects = layer.labelRects(kMeterSize);
  std::vector<double> labelled;
  for (const auto& mark : QVLevelMeterBackLayer::scaleMarks())
    if (mark.labelled) labelled.push_back(mark.db);
  ASSERT_EQ(rects.size(), labelled.size());
  ASSERT_GE(rects.size(), 5u);
  const QRectF inside(QPointF(0, 0), kMeterSize);
  const double lastRow = QVLevelMeterBackLayer::rowY(1, 2, kMeterSize.height());
  const QFontMetricsF metrics(layer.scaleFont());
  for (std::size_t i = 0; i < rects.size(); ++i) {
    SCOPED_TRACE(labelled[i]);
    EXPECT_TRUE(inside.contains(rects[i].adjusted(0, 0, 0, -metrics.descent())));
    EXPECT_GT(rects[i].top(), lastRow + theme::kMeterLineWidth / 2) << "over the bars";
    if (i > 0) {
      EXPECT_GE(rects[i].left(), rects[i - 1].right() + 2.0) << "labels touch";
    }
    // Centred on the tick, except where the meter's edge holds it in.
    const double x = QVLevelMeterBackLayer::xForDb(labelled[i], kMeterSize.width());
    if (rects[i].left() > 0.0 && rects[i].right() < kMeterSize.width()) {
      EXPECT_NEAR(rects[i].center().x(), x, 0.01);
    }
  }
  // A meter too low for a scale gets none rather than labels over its bars.
  EXPECT_TRUE(layer.labelRects(QSizeF(300, 24)).empty());
}

TEST(LevelMeterDbScaleTest, TheScaleIsDrawnWithTheBarsAndShowsInAPicture) {
  const QVLevelMeterBackLayer layer = meterLayer();
  const double scale = 2.0;
  QImage image((kMeterSize * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(theme::kWindowBackground);
  QPainter painter(&image);
  layer.drawInContext(painter, kMeterSize);
  QImage bare = image.copy();
  QVLevelMeterUpdateLayer covers(nullptr);
  covers.setLineWidth(theme::kMeterLineWidth);
  const float levels[2] = {0.3f, 0.05f};
  covers.drawLevels(painter, kMeterSize, levels, 2);
  painter.end();
  guitest::saveScreenshot(image, "level-meter");

  // Every label has text pixels in the scale's grey; nothing was drawn between them.
  int lit = 0;
  for (const QRectF& r : layer.labelRects(kMeterSize)) {
    int inLabel = 0;
    for (int y = int(r.top() * scale); y < int(r.bottom() * scale); ++y)
      for (int x = int(r.left() * scale); x < int(r.right() * scale); ++x)
        if (bare.pixelColor(x, y).lightness() > 80) ++inLabel;
    EXPECT_GT(inLabel, 4) << r.left();
    lit += inLabel;
  }
  EXPECT_GT(lit, 0);
  const QRectF first = layer.labelRects(kMeterSize)[0];
  EXPECT_EQ(bare.pixelColor(int(first.left() * scale) - 2, int(first.center().y() * scale)),
            theme::kWindowBackground);
}

}  // namespace
}  // namespace qv::gui
