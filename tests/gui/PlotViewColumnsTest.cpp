// Scale labels in columns and strips of their own: the units, a second quantity read on the
// right-hand scale, and none of the charts, the grid or the cursor inside the label room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "gui/plot/PlotView.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotScaleLabel;
using qv::gui::PlotSide;
using qv::gui::PlotView;

namespace {

class PlotViewColumnsTest : public ::testing::TestWithParam<double> {
 protected:
  // A phase view: degrees on the left, the coherence (× 180) in percent on the right,
  // frequency labels below.
  void SetUp() override {
    view->setRangeMinXMaxXMinYMaxY(0, 100, -225, 225);
    view->setVisibleRangeMinXMaxXMinYMaxY(5, 95, -180, 180);
    view->setGridStepX(10);
    view->setGridStepY(45);
    view->setGridColor(QColor(0, 255, 0));
    view->setChartsBorderColor(QColor(0, 0, 90));
    view->setScaleLabelColor(Qt::white);
    view->setScaleFontSize(14);
    for (PlotSide side : {qv::gui::PlotSideLeft, qv::gui::PlotSideRight, qv::gui::PlotSideBottom})
      view->setScaleSideVisible(side, true);
    view->setLabelsForSide({"", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"},
                           qv::gui::PlotSideBottom);
    view->setScalesOverlaid(true);
    view->setScaleUnit(qv::gui::PlotSideLeft, "°");
    view->setScaleUnit(qv::gui::PlotSideRight, "%");
    view->setScaleUnit(qv::gui::PlotSideBottom, "Hz");
    view->setRightScale(100.0 / 180.0, 0.0, 180.0);
    view->setScaleLabelColumnWidth(1.0);
    view->setScaleLabelColumnWidth(view->scaleLabelColumnWidthNeeded());
  }

  std::vector<PlotScaleLabel> labelsOf(PlotSide side, bool unit) const {
    std::vector<PlotScaleLabel> out;
    for (const PlotScaleLabel& l : view->scaleLabels())
      if (l.side == side && l.unit == unit) out.push_back(l);
    return out;
  }
  double yOf(double y) const { return view->widgetPointForValue({0, y}).y(); }

  std::unique_ptr<PlotView> view = makeBareView(700, 320);
};

TEST_P(PlotViewColumnsTest, RightScaleReadsTheSecondQuantityOnlyWhereItIsDrawn) {
  (void)view->renderImage(GetParam());
  const auto right = labelsOf(qv::gui::PlotSideRight, false);
  // 0° … 180° carry 0 … 100 %; the negative degrees have no coherence and no label.
  ASSERT_EQ(right.size(), 5u);
  const char* expected[] = {"0", "25", "50", "75", "100"};
  for (size_t i = 0; i < right.size(); ++i) {
    EXPECT_EQ(right[i].text, expected[i]);
    EXPECT_NEAR(right[i].rect.center().y(), yOf(45.0 * static_cast<double>(i)), 1.0) << i;
    EXPECT_GE(right[i].rect.left(), view->chartRect().right()) << i;
  }
  const auto left = labelsOf(qv::gui::PlotSideLeft, false);
  ASSERT_EQ(left.size(), 9u);
  EXPECT_EQ(left.front().text, "-180");
  EXPECT_EQ(left.back().text, "180");
  for (const PlotScaleLabel& l : left) EXPECT_LE(l.rect.right(), view->chartRect().left());
}

TEST_P(PlotViewColumnsTest, UnitsSitInTheCornersAndAtTheStripsEnd) {
  (void)view->renderImage(GetParam());
  const QRectF chart = view->chartRect();
  const auto leftUnit = labelsOf(qv::gui::PlotSideLeft, true);
  const auto rightUnit = labelsOf(qv::gui::PlotSideRight, true);
  const auto xUnit = labelsOf(qv::gui::PlotSideBottom, true);
  ASSERT_EQ(leftUnit.size(), 1u);
  ASSERT_EQ(rightUnit.size(), 1u);
  ASSERT_EQ(xUnit.size(), 1u);
  EXPECT_EQ(leftUnit[0].text, "°");
  EXPECT_EQ(rightUnit[0].text, "%");
  EXPECT_EQ(xUnit[0].text, "Hz");
  // Above the chart area, in the outer corners.
  EXPECT_LE(leftUnit[0].rect.bottom(), chart.top());
  EXPECT_LE(leftUnit[0].rect.right(), chart.left());
  EXPECT_LE(rightUnit[0].rect.bottom(), chart.top());
  EXPECT_GE(rightUnit[0].rect.left(), chart.right());
  // Below it at the right end (after the last label where that one reaches the end),
  // clear of the frequency labels.
  EXPECT_GE(xUnit[0].rect.top(), chart.bottom());
  EXPECT_GT(xUnit[0].rect.left(), chart.right() - 40.0);
  EXPECT_LE(xUnit[0].rect.right(), 700.0);
  for (const PlotScaleLabel& l : labelsOf(qv::gui::PlotSideBottom, false)) {
    EXPECT_GE(l.rect.top(), chart.bottom()) << l.text.toStdString();
    EXPECT_FALSE(l.rect.intersects(xUnit[0].rect)) << l.text.toStdString();
  }
  // Every label of a side, unit or not, is apart from the others.
  const auto& all = view->scaleLabels();
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j)
      EXPECT_FALSE(all[i].rect.intersects(all[j].rect))
          << all[i].text.toStdString() << " / " << all[j].text.toStdString();
}

// A red curve swinging far past the visible range and the cursor: inside the chart area
// they show, in the columns and strips only labels (white) and the border do.
TEST_P(PlotViewColumnsTest, CurvesGridAndCursorStayOutOfTheLabelRoom) {
  const double dpr = GetParam();
  auto curve = view->addLineChartWithName("c", span(200), 3.0f, kRed);
  std::vector<float> values(200);
  for (int i = 0; i < 200; ++i) values[i] = (i % 2 ? 1.0f : -1.0f) * 220.0f;
  view->setDataOfLengthForChart(values.data(), 200, curve.get());
  view->addCursor();
  view->setCursorColor(QColor(0, 0, 255));
  view->setCursorPosition({50.0, 30.0});
  for (int frame = 0; frame < 5; ++frame) {  // the later frames from the static layer
    const QImage image = view->renderImage(dpr);
    const QRectF chart = view->chartRect();
    const QRect inside(static_cast<int>(std::floor(chart.left() * dpr)),
                       static_cast<int>(std::floor(chart.top() * dpr)),
                       static_cast<int>(std::ceil(chart.width() * dpr)),
                       static_cast<int>(std::ceil(chart.height() * dpr)));
    int red = 0;
    int green = 0;
    int blue = 0;
    int redInside = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        // Label ink is grey (equal channels); what has one strong channel is not a label.
        const bool isRed = qRed(p) > 120 && qGreen(p) < 60;
        if (inside.contains(x, y)) {
          redInside += isRed;
          continue;
        }
        red += isRed;
        green += qGreen(p) > 120 && qRed(p) < 60;
        blue += qBlue(p) > 120 && qRed(p) < 60;
      }
    }
    EXPECT_GT(redInside, 1000) << "frame " << frame;
    EXPECT_EQ(red, 0) << "frame " << frame;
    EXPECT_EQ(green, 0) << "frame " << frame;
    EXPECT_EQ(blue, 0) << "frame " << frame;
    std::reverse(values.begin(), values.end());
    view->setDataOfLengthForChart(values.data(), 200, curve.get());
  }
}

INSTANTIATE_TEST_SUITE_P(Ratios, PlotViewColumnsTest, ::testing::Values(1.0, 2.0));

}  // namespace
