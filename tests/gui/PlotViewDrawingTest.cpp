// What a plot view draws, read back from the pixels of a rendered frame. Line positions at
// both pixel ratios, joined phase and the spectrogram's scrolling are held by the stored
// rendering of every chart kind (PlotViewScreenshotTest).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "gui/plot/PlotView.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotView;

namespace {

class PlotViewDrawingTest : public ::testing::Test {
 protected:
  std::unique_ptr<PlotView> view = makeBareView(400, 200);

  int columnOf(double x, double dpr = 1.0) const {
    return static_cast<int>(view->widgetPointForValue({x, 0}).x() * dpr);
  }
  double rowOf(double y, double dpr = 1.0) const {
    return view->widgetPointForValue({0, y}).y() * dpr;
  }
};

TEST_F(PlotViewDrawingTest, ThinLineOnAPixelCentreLightsOneRowFully) {
  // Row 150 covers device y 150..151, whose centre is value -50.5.
  auto chart = view->addLineChartWithName("thin", span(2), 1.0f, kWhite);
  const float values[] = {-50.5f, -50.5f};
  view->setDataOfLengthForChart(values, 2, chart.get());
  const QImage image = view->renderImage();
  ASSERT_DOUBLE_EQ(rowOf(-50.5), 150.5);
  EXPECT_EQ(brightness(image.pixel(200, 150)), 255);
  EXPECT_EQ(brightness(image.pixel(200, 149)), 0);
  EXPECT_EQ(brightness(image.pixel(200, 151)), 0);
}

TEST_F(PlotViewDrawingTest, WrappingPhaseBreaksInsteadOfCrossingTheChart) {
  view->setRangeMinXMaxXMinYMaxY(0, 100, -180, 180);
  view->setVisibleRangeMinXMaxXMinYMaxY(0, 100, -180, 180);
  std::vector<float> values(101);
  for (int i = 0; i <= 100; ++i) values[i] = i < 50 ? 170.0f : -170.0f;
  auto phase = view->addPhaseLineChartWithName("phs", span(101), 1.0f, kWhite);
  view->setDataOfLengthForChart(values.data(), 101, phase.get());

  const QImage image = view->renderImage();
  const int x0 = columnOf(49);
  const int x1 = columnOf(50);
  const int bandTop = static_cast<int>(rowOf(150));
  const int bandBottom = static_cast<int>(rowOf(-150));
  EXPECT_EQ(countLit(image, x0, x1, bandTop, bandBottom), 0);
  // Both branches are there, each running on towards the edge it crossed.
  EXPECT_GT(countLit(image, x0 - 3, x0, 0, bandTop), 0);
  EXPECT_GT(countLit(image, x1, x1 + 3, bandBottom, 199), 0);
  EXPECT_GT(countLit(image, x0, x1, 0, static_cast<int>(rowOf(175))), 0);

  // The same values as a plain line do cross: the probe above can see a crossing.
  phase->Delete();
  auto line = view->addLineChartWithName("line", span(101), 1.0f, kWhite);
  view->setDataOfLengthForChart(values.data(), 101, line.get());
  EXPECT_GT(countLit(view->renderImage(), x0, x1, bandTop, bandBottom), 50);
}

TEST_F(PlotViewDrawingTest, NonFiniteValuesLeaveAGap) {
  std::vector<float> values(101, 20.0f);
  for (int i = 40; i < 60; ++i) values[i] = std::numeric_limits<float>::quiet_NaN();
  values[70] = std::numeric_limits<float>::infinity();
  auto chart = view->addLineChartWithName("blanked", span(101), 2.0f, kWhite);
  view->setDataOfLengthForChart(values.data(), 101, chart.get());
  const QImage image = view->renderImage();

  // Nothing at all in the blanked band: no line down to 0 and none off the chart.
  EXPECT_EQ(countLit(image, columnOf(41), columnOf(58), 0, 199), 0);
  EXPECT_EQ(countLit(image, columnOf(69.6), columnOf(70.4), 0, 199), 0);
  // The curve on either side is where its values say.
  for (double x : {20.0, 65.0, 90.0}) {
    EXPECT_NEAR(litCentreInColumn(image, columnOf(x)), rowOf(20), 0.3) << x;
  }
}

TEST_F(PlotViewDrawingTest, ChartWithoutDataDrawsAtZero) {
  view->setVisibleRangeMinXMaxXMinYMaxY(0, 100, -60, 40);
  view->addLineChartWithName("zero", span(2), 1.0f, kWhite);
  view->addPhaseLineChartWithName("zero phase", span(50), 1.0f, kWhite);
  const QImage image = view->renderImage();
  for (double x : {10.0, 50.0, 90.0}) {
    EXPECT_NEAR(litCentreInColumn(image, columnOf(x)), rowOf(0), 0.3) << x;
  }
}

TEST_F(PlotViewDrawingTest, TopChartWinsWhereChartsOverlap) {
  std::vector<float> values(11, 0.0f);
  auto red = view->addLineChartWithName("red", span(11), 3.0f, kRed);
  auto green = view->addLineChartWithName("green", span(11), 3.0f, kGreen);
  view->setDataOfLengthForChart(values.data(), 11, red.get());
  view->setDataOfLengthForChart(values.data(), 11, green.get());
  const int row = static_cast<int>(rowOf(0));

  QImage image = view->renderImage();
  EXPECT_EQ(greenAt(image, 200, row), 255);
  EXPECT_EQ(redAt(image, 200, row), 0);

  red->MoveToTop();
  image = view->renderImage();
  EXPECT_EQ(redAt(image, 200, row), 255);
  EXPECT_EQ(greenAt(image, 200, row), 0);
}

TEST_F(PlotViewDrawingTest, DeletingByIdRemovesEveryChartOfThatNameAndNothingElse) {
  const float low[] = {-50.0f, -50.0f};
  const float mid[] = {0.0f, 0.0f};
  const float high[] = {50.0f, 50.0f};
  auto a1 = view->addLineChartWithName("trace-a", span(2), 1.0f, kWhite);
  auto b = view->addLineChartWithName("trace-b", span(2), 1.0f, kWhite);
  auto a2 = view->addPhaseLineChartWithName("trace-a", span(2), 1.0f, kWhite);
  view->setDataOfLengthForChart(low, 2, a1.get());
  view->setDataOfLengthForChart(mid, 2, b.get());
  view->setDataOfLengthForChart(high, 2, a2.get());

  EXPECT_EQ(view->deleteChartsWithID("trace-a"), 2u);
  EXPECT_EQ(view->deleteChartsWithID("trace-a"), 0u);
  ASSERT_EQ(view->chartList().size(), 1u);
  EXPECT_EQ(view->chartList().charts().front(), b);
  const QImage image = view->renderImage();
  EXPECT_NEAR(litCentreInColumn(image, 200), rowOf(0), 0.3);

  // A caller still holding a deleted chart may keep setting its data: nothing shows.
  view->setDataOfLengthForChart(mid, 2, a1.get());
  EXPECT_TRUE(view->deleteChart(b.get()));
  EXPECT_FALSE(view->deleteChart(b.get()));
  EXPECT_EQ(countLit(view->renderImage(), 0, 399, 0, 199), 0);
}

TEST_F(PlotViewDrawingTest, BarsRiseFromTheBottomInTheirTwoColours) {
  auto bars = view->addBarChartWithName("bands", {5.0f, 95.0f, 10}, kRed, kBlue);
  std::vector<float> values(10, 90.0f);
  values[3] = std::numeric_limits<float>::quiet_NaN();
  view->setDataOfLengthForChart(values.data(), 10, bars.get());
  const QImage image = view->renderImage();
  const int column = columnOf(5);
  // The top of the area shows the first colour, the bottom the second.
  EXPECT_GT(redAt(image, column, static_cast<int>(rowOf(85))), 200);
  EXPECT_GT(qBlue(image.pixel(column, 197)), 200);
  EXPECT_EQ(brightness(image.pixel(column, static_cast<int>(rowOf(95)))), 0);
  // Bars stand apart, and a blanked band has no bar.
  EXPECT_EQ(brightness(image.pixel(columnOf(10), 150)), 0);
  EXPECT_EQ(countLit(image, columnOf(33), columnOf(37), 0, 199), 0);
}

TEST_F(PlotViewDrawingTest, WidgetPaintShowsTheSameFrame) {
  auto chart = view->addLineChartWithName("flat", span(2), 2.0f, kGreen);
  const float values[] = {50.0f, 50.0f};
  view->setDataOfLengthForChart(values, 2, chart.get());
  const QImage grabbed = view->grab().toImage();
  ASSERT_EQ(grabbed.size(), QSize(400, 200));
  EXPECT_EQ(grabbed.pixel(200, static_cast<int>(rowOf(50))), qRgb(0, 255, 0));
  EXPECT_EQ(grabbed.pixel(200, static_cast<int>(rowOf(50)) + 3), qRgb(0, 0, 0));
}

TEST_F(PlotViewDrawingTest, ViewWithoutAreaRendersNothingAndSurvives) {
  view->addLineChartWithName("flat", span(2), 2.0f, kGreen);
  view->addSpectrogramWithName("sg", span(8), 4);
  view->resize(0, 0);
  EXPECT_TRUE(view->renderImage().isNull());
  view->resize(3, 2);
  EXPECT_EQ(view->renderImage(2.0).size(), QSize(6, 4));
}

}  // namespace
