// The plot controller as a workbench: the legend follows the store (names, colours,
// offsets, hiding), traces drawn relative to a compare reference (and again when the
// reference's offsets change), and a target's band behind every curve, absent while
// comparing. Screenshots of a target with its band and of a compare view, with the legend.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <cmath>

#include "curves/TargetCurve.h"
#include "gui/Theme.h"
#include "gui/display/TraceLegend.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::chartNames;
using Names = std::vector<std::string>;

class PlotControllerWorkbenchTest : public ::testing::Test {
 protected:
  TraceShotRef store(const std::string& name, float magnitude, float phase) {
    const auto curves = guitest::PlotArea::curves(magnitude, phase, 170.0f);
    return area_.store().newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        name, curves.data(), guitest::PlotArea::bandCount(), 3, "");
  }
  TraceShotRef current(const TraceShotRef& shot) {
    for (const TraceShotRef& s : area_.store().allTraceShots())
      if (s->id == shot->id) return s;
    return nullptr;
  }
  std::vector<float> drawn(const TraceShotRef& shot, SpectrumPlotView& view) {
    plot::ChartSnapshot s;
    const auto chart = view.chartList().chartWithID(*shot->uuid);
    if (!chart) return {};
    chart->snapshot(s);
    return s.values;
  }
  std::vector<QString> legendTexts() {
    std::vector<QString> texts;
    for (const auto& e : area_.plots().legend()->entries()) texts.push_back(e.text);
    return texts;
  }
  static curves::TargetCurve flatTarget(double tolerance) {
    curves::TargetCurve target;
    curves::CurveFileError error;
    EXPECT_TRUE(curves::TargetCurve::parse("20 0\n20000 0\n", tolerance, &target, &error))
        << error.text();
    return target;
  }
  guitest::PlotArea area_;
};

TEST_F(PlotControllerWorkbenchTest, LegendFollowsTheStoreAndHidesWithNothingToName) {
  area_.build();
  TraceLegend* legend = area_.plots().legend();
  ASSERT_NE(legend, nullptr);
  EXPECT_TRUE(legend->entries().empty());
  EXPECT_TRUE(legend->isHidden());

  const TraceShotRef shot = store("Before EQ", -6.0f, 0.0f);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(legendTexts(), (std::vector<QString>{"Live", "Before EQ"}));
  EXPECT_FALSE(legend->isHidden());
  const RGBAColor c = *area_.store().colorForShot(*shot);
  EXPECT_EQ(legend->entries()[1].color, QColor::fromRgbF(c.red, c.green, c.blue));

  // A rename changes no visibility: the list's notification carries it to the legend.
  area_.store().setNameForShot("Stage left", *shot);
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return legendTexts().back() == QStringLiteral("Stage left"); }, 5000));
  area_.store().setOffsetsForShot(2.0, -1.25, *current(shot));
  ASSERT_TRUE(guitest::processEventsUntil(
      [&] { return legendTexts().back() == QStringLiteral("Stage left (+2.0 dB, -1.25 ms)"); },
      5000));

  area_.store().toggleVisibilityForShot(*current(shot));
  EXPECT_TRUE(legend->entries().empty());
  EXPECT_TRUE(legend->isHidden());
}

TEST_F(PlotControllerWorkbenchTest, TracesAreDrawnRelativeToTheReferenceAndItsOffsets) {
  const TraceShotRef before = store("Before", -6.0f, 30.0f);
  const TraceShotRef after = store("After", -12.0f, 45.0f);
  area_.build();
  const size_t n = static_cast<size_t>(guitest::PlotArea::bandCount());

  area_.plots().setCompareReference(current(before));
  EXPECT_EQ(drawn(after, area_.mag()), std::vector<float>(n, -6.0f));
  EXPECT_EQ(drawn(after, area_.phase()), std::vector<float>(n, 15.0f));
  EXPECT_EQ(drawn(before, area_.mag()), std::vector<float>(n, 0.0f));
  EXPECT_EQ(area_.plots().legend()->title(), QStringLiteral("Relative to Before"));
  EXPECT_EQ(legendTexts().front(), QStringLiteral("Live, relative"));
  // The live charts stay above every trace drawn anew.
  EXPECT_EQ(chartNames(area_.mag()).back(), "mag");

  // Raising the reference by 2 dB lowers everything relative to it by 2 dB.
  area_.store().setOffsetsForShot(2.0, 0.0, *current(before));
  EXPECT_EQ(drawn(after, area_.mag()), std::vector<float>(n, -8.0f));
  EXPECT_EQ(area_.plots().legend()->title(), QStringLiteral("Relative to Before (+2.0 dB)"));

  area_.plots().setCompareReference(nullptr);
  EXPECT_EQ(drawn(after, area_.mag()), std::vector<float>(n, -12.0f));
  EXPECT_EQ(drawn(before, area_.mag()), std::vector<float>(n, -4.0f));  // its own offset
  EXPECT_TRUE(area_.plots().legend()->title().isEmpty());
}

TEST_F(PlotControllerWorkbenchTest, TargetBandLiesBehindEveryCurveAndStepsAsideWhileComparing) {
  const TraceShotRef shot = store("Main", -3.0f, 0.0f);
  area_.build();
  area_.plots().setTarget(flatTarget(3.0));
  const Names names = chartNames(area_.mag());
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "target band");
  EXPECT_EQ(names[1], "target level");
  EXPECT_EQ(legendTexts().back(), QStringLiteral("Target"));

  // Two values a band: the lower edges, then the upper ones (blank beyond the points).
  plot::ChartSnapshot band;
  area_.mag().chartList().chartWithID("target band")->snapshot(band);
  const size_t n = static_cast<size_t>(band.x.count);
  ASSERT_EQ(band.values.size(), 2 * n);
  const size_t mid = n / 2;  // about 1 kHz on the log axis
  EXPECT_FLOAT_EQ(band.values[mid], -3.0f);
  EXPECT_FLOAT_EQ(band.values[n + mid], 3.0f);
  EXPECT_TRUE(std::isnan(band.values[0]));

  area_.plots().setCompareReference(current(shot));
  EXPECT_EQ(guitest::chartsNamed(area_.mag(), "target band"), 0u);
  EXPECT_EQ(guitest::chartsNamed(area_.mag(), "target level"), 0u);
  area_.plots().setCompareReference(nullptr);
  EXPECT_EQ(chartNames(area_.mag()).front(), "target band");

  area_.plots().setTarget(std::nullopt);
  EXPECT_EQ(guitest::chartsNamed(area_.mag(), "target band"), 0u);
  EXPECT_NE(legendTexts().back(), QStringLiteral("Target"));
}

// A loudspeaker-like magnitude for screenshots: a low roll-off, a bump and a dip.
std::vector<float> shapedCurves(float level, float dip) {
  const int32_t n = guitest::PlotArea::bandCount();
  std::vector<float> buffer(3 * static_cast<size_t>(n));
  for (int32_t b = 0; b < n; ++b) {
    const double octave = 10.0 * b / n;  // about 20 Hz .. 20 kHz
    const double f = 20.0 * std::pow(2.0, octave);
    const double m = level - 12.0 * std::log2(std::max(1.0, 60.0 / f)) +
                     dip * std::exp(-std::pow(std::log2(f / 3000.0) * 2.0, 2.0));
    buffer[static_cast<size_t>(b)] = static_cast<float>(m);
    buffer[static_cast<size_t>(n + b)] = static_cast<float>(std::remainder(f * 0.36, 360.0));
    buffer[static_cast<size_t>(2 * n + b)] = 160.0f;
  }
  return buffer;
}

TEST_F(PlotControllerWorkbenchTest, ScreenshotsOfTargetAndCompareShowAnUnclippedLegend) {
  TraceManager& traces = area_.store();
  const int32_t n = guitest::PlotArea::bandCount();
  const auto a = shapedCurves(-4.0f, -6.0f);
  const auto b = shapedCurves(-7.0f, 0.0f);
  const TraceShotRef before =
      traces.newTraceWithNameFloatBufferLengthCountCommentUserInfo("Before EQ", a.data(), n, 3, "");
  const TraceShotRef after = traces.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
      "After EQ, stage left", b.data(), n, 3, "");
  ASSERT_TRUE(before && after);
  area_.build();
  area_.base().show();
  area_.plots().setTarget(flatTarget(3.0));
  guitest::processEventsUntil([] { return false; }, 200);

  TraceLegend* legend = area_.plots().legend();
  const QFontMetrics fm([&] {
    QFont f = legend->font();
    f.setPixelSize(theme::kLegendPixelSize);
    return f;
  }());
  // Every name fits: the box is wide enough for the longest with its swatch.
  EXPECT_GE(legend->width(), fm.horizontalAdvance("After EQ, stage left") + 18);
  EXPECT_TRUE(area_.mag().chartRect().contains(QRectF(legend->geometry())));
  guitest::saveScreenshot(area_.base(), QStringLiteral("workbench-target-legend"));

  area_.plots().setCompareReference(current(before));
  guitest::processEventsUntil([] { return false; }, 200);
  EXPECT_EQ(legend->title(), QStringLiteral("Relative to Before EQ"));
  guitest::saveScreenshot(area_.base(), QStringLiteral("workbench-compare"));
}

}  // namespace
}  // namespace qv::gui
