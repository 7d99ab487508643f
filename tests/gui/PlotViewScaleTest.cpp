// Grid lines and scale labels where the ranges put them, read back from rendered frames.
#include <gtest/gtest.h>

#include <cmath>

#include "gui/plot/PlotPainter.h"
#include "gui/plot/PlotView.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotSide;
using qv::gui::PlotView;

namespace {

// Ink of the labels: white text on a dark blue background.
bool isInk(QRgb p) { return qRed(p) > 100; }

struct Ink {
  int count = 0;
  double centreX = NAN;
  double centreY = NAN;
};

Ink inkIn(const QImage& image, QRect r) {
  Ink ink;
  double sx = 0;
  double sy = 0;
  r &= image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      if (!isInk(image.pixel(x, y))) continue;
      ++ink.count;
      sx += x + 0.5;
      sy += y + 0.5;
    }
  }
  if (ink.count > 0) {
    ink.centreX = sx / ink.count;
    ink.centreY = sy / ink.count;
  }
  return ink;
}

class PlotViewScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view->resize(600, 300);
    view->setRangeMinXMaxXMinYMaxY(0, 100, -100, 100);
    view->setVisibleRangeMinXMaxXMinYMaxY(25, 85, -60, 60);
    view->setGridStepX(10);
    view->setGridStepY(20);
    view->setBackgroundColor(QColor(0, 0, 80));
    view->setChartsBackgroundColor(Qt::black);
    view->setChartsBorderColor(Qt::black);
    view->setGridColor(QColor(0, 255, 0));
    view->setScaleLabelColor(Qt::white);
    view->setScaleFontSize(12);
    view->setScaleSideVisible(qv::gui::PlotSideBottom, true);
    view->setScaleSideVisible(qv::gui::PlotSideLeft, true);
    // Label k names the k-th line from the full minimum (0): only even lines are named.
    view->setLabelsForSide({"0", "", "20", "", "40", "", "60", "", "80", "", "100"},
                           qv::gui::PlotSideBottom);
  }
  double xOf(double x) const { return view->widgetPointForValue({x, 0}).x(); }
  double yOf(double y) const { return view->widgetPointForValue({0, y}).y(); }

  std::unique_ptr<PlotView> view = makeBareView(600, 300);
};

TEST_F(PlotViewScaleTest, GridLinesFollowTheFullRangeOriginAndTheSteps) {
  const QImage image = view->renderImage();
  const QRectF chart = view->chartRect();
  const int midRow = static_cast<int>(yOf(10));  // between two horizontal lines
  for (double x = 30; x <= 80; x += 10) {
    EXPECT_EQ(qGreen(image.pixel(static_cast<int>(xOf(x)), midRow)), 255) << x;
    if (x < 80) {
      EXPECT_EQ(qGreen(image.pixel(static_cast<int>(xOf(x + 5)), midRow)), 0) << x + 5;
    }
  }
  const int midColumn = static_cast<int>(xOf(35));
  for (double y = -40; y <= 40; y += 20) {
    EXPECT_EQ(qGreen(image.pixel(midColumn, static_cast<int>(yOf(y)))), 255) << y;
    EXPECT_EQ(qGreen(image.pixel(midColumn, static_cast<int>(yOf(y + 10)))), 0) << y + 10;
  }
  // The grid stays inside the chart area; below it only a short tick marks each line
  // (and line 5 has no label).
  EXPECT_EQ(qGreen(image.pixel(static_cast<int>(xOf(50)), static_cast<int>(chart.bottom()) + 1)),
            255);
  EXPECT_EQ(qGreen(image.pixel(static_cast<int>(xOf(50)), static_cast<int>(chart.bottom()) + 8)),
            0);
}

TEST_F(PlotViewScaleTest, LabelKSitsUnderTheKthLineFromTheFullMinimum) {
  for (double dpr : {1.0, 2.0}) {
    const QImage image = view->renderImage(dpr);
    const QRectF chart = view->chartRect();
    const int top = static_cast<int>((chart.bottom() + 2) * dpr);
    const int bottom = image.height() - 1;
    for (int k = 3; k <= 8; ++k) {
      const double x = xOf(10.0 * k) * dpr;
      const Ink ink = inkIn(image, QRect(QPoint(static_cast<int>(x - 14 * dpr), top),
                                         QPoint(static_cast<int>(x + 14 * dpr), bottom)));
      if (k % 2 == 0) {
        EXPECT_GT(ink.count, 0) << "k " << k << " ratio " << dpr;
        EXPECT_NEAR(ink.centreX, x, 2.0 * dpr) << "k " << k << " ratio " << dpr;
      } else {
        EXPECT_EQ(ink.count, 0) << "k " << k << " ratio " << dpr;
      }
    }
  }
}

TEST_F(PlotViewScaleTest, YLabelsSitBesideTheirGridLines) {
  const QImage image = view->renderImage();
  const QRectF chart = view->chartRect();
  ASSERT_GT(chart.left(), 10);
  const int right = static_cast<int>(chart.left()) - 2;
  for (double y = -40; y <= 40; y += 20) {
    const Ink ink = inkIn(image, QRect(QPoint(0, static_cast<int>(yOf(y) - 12)),
                                       QPoint(right, static_cast<int>(yOf(y) + 12))));
    EXPECT_GT(ink.count, 0) << y;
    EXPECT_NEAR(ink.centreY, yOf(y), 3.0) << y;
  }
  // Right side: hidden scale, no margin and no labels.
  EXPECT_EQ(chart.right(), 600);
}

TEST_F(PlotViewScaleTest, HiddenLabelsAndHiddenScalesGiveTheirRoomBack) {
  const QRectF withLabels = view->chartRect();
  view->setScaleSideLabelsVisible(qv::gui::PlotSideBottom, false);
  const QRectF withTicks = view->chartRect();
  EXPECT_GT(withTicks.height(), withLabels.height());
  const QImage image = view->renderImage();
  EXPECT_EQ(inkIn(image, QRect(QPoint(static_cast<int>(withTicks.left()),
                                      static_cast<int>(withTicks.bottom()) + 1),
                               QPoint(599, 299)))
                .count,
            0);
  view->setScaleSideVisible(qv::gui::PlotSideBottom, false);
  EXPECT_EQ(view->chartRect().bottom(), 300);
}

TEST_F(PlotViewScaleTest, OverlaidScalesDrawInsideAChartAreaThatFillsTheView) {
  view->setScalesOverlaid(true);
  EXPECT_EQ(view->chartRect(), QRectF(0, 0, 600, 300));
  const QImage image = view->renderImage();
  const double x = xOf(40);
  const Ink ink = inkIn(
      image, QRect(QPoint(static_cast<int>(x - 14), 270), QPoint(static_cast<int>(x + 14), 299)));
  EXPECT_GT(ink.count, 0);
  EXPECT_NEAR(ink.centreX, x, 2.0);
  // y labels run along the inside of the left edge.
  const Ink left = inkIn(image, QRect(QPoint(0, static_cast<int>(yOf(20) - 12)),
                                      QPoint(40, static_cast<int>(yOf(20) + 12))));
  EXPECT_GT(left.count, 0);
}

TEST(PlotLabelText, DecimalsFollowTheStep) {
  using qv::gui::PlotPainter;
  EXPECT_EQ(PlotPainter::yLabelText(-12.0, 6.0), "-12");
  EXPECT_EQ(PlotPainter::yLabelText(0.4, 0.2), "0.4");
  EXPECT_EQ(PlotPainter::yLabelText(-0.75, 0.25), "-0.75");
  // A single-precision step still reads as tenths.
  EXPECT_EQ(PlotPainter::yLabelText(3 * static_cast<double>(0.3f), static_cast<double>(0.3f)),
            "0.9");
  // The zero line of a grid computed as k · step is never "-0".
  EXPECT_EQ(PlotPainter::yLabelText(-1e-17, 0.2), "0.0");
}

}  // namespace
