// What a plot view draws, read back from the pixels of a rendered frame. Line positions at
// both pixel ratios, joined and wrapping phase, gaps for blanked values, bars and the
// spectrogram's scrolling are held by the stored rendering of every chart kind
// (PlotViewScreenshotTest).
#include <gtest/gtest.h>

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
