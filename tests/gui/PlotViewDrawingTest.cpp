// What a plot view draws, read back from the pixels of a rendered frame. Line positions at
// both pixel ratios, charts without data at zero, the order of overlapping charts, joined and
// wrapping phase, gaps for blanked values, bars and the spectrogram's scrolling are held by
// the stored rendering of every chart kind (PlotViewScreenshotTest).
#include <gtest/gtest.h>

#include "gui/plot/PlotView.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotView;

namespace {

class PlotViewDrawingTest : public ::testing::Test {
 protected:
  std::unique_ptr<PlotView> view = makeBareView(400, 200);

  double rowOf(double y) const { return view->widgetPointForValue({0, y}).y(); }
};

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
