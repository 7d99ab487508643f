// The room the scales take, read back from rendered frames. Where grid lines and labels
// land (from the full range's origin, label k under line k, at both pixel ratios, overlaid
// or beside the chart) is held by the stored rendering of every chart kind
// (PlotViewScreenshotTest).
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

// How many pixels of label ink lie in `r`.
int inkIn(const QImage& image, QRect r) {
  int count = 0;
  r &= image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) count += isInk(image.pixel(x, y));
  return count;
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

  std::unique_ptr<PlotView> view = makeBareView(600, 300);
};

TEST_F(PlotViewScaleTest, HiddenLabelsAndHiddenScalesGiveTheirRoomBack) {
  const QRectF withLabels = view->chartRect();
  view->setScaleSideLabelsVisible(qv::gui::PlotSideBottom, false);
  const QRectF withTicks = view->chartRect();
  EXPECT_GT(withTicks.height(), withLabels.height());
  const QImage image = view->renderImage();
  EXPECT_EQ(inkIn(image, QRect(QPoint(static_cast<int>(withTicks.left()),
                                      static_cast<int>(withTicks.bottom()) + 1),
                               QPoint(599, 299))),
            0);
  view->setScaleSideVisible(qv::gui::PlotSideBottom, false);
  EXPECT_EQ(view->chartRect().bottom(), 300);
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
