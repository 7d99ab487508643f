// Captured traces on the live display: drawn below the live curves at start, a capture
// stored as "TF" with its comment and the live curves raised above it a second later,
// hiding that removes every curve of the trace, and unreadable traces left undrawn.
#include <gtest/gtest.h>

#include <algorithm>

#include "gui/display/QVPlotController.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::chartNames;
using guitest::chartsNamed;
using guitest::PlotArea;

class PlotControllerTracesTest : public ::testing::Test {
 protected:
  // Stores a visible trace of constant curves; returns its uuid.
  std::string storeTrace(float magnitude, float phase, float coherence) {
    const auto curves = PlotArea::curves(magnitude, phase, coherence);
    const int64_t n = PlotArea::bandCount();
    auto shot = area_.store().newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "stored", curves.data(), n, 3, "");
    return shot && shot->uuid ? *shot->uuid : std::string();
  }

  static std::vector<float> dataOf(const PlotView& view, const std::string& name) {
    auto chart = view.chartList().chartWithID(name);
    if (!chart) return {};
    plot::ChartSnapshot snapshot;
    chart->snapshot(snapshot);
    return snapshot.values;
  }

  PlotArea area_;
};

TEST_F(PlotControllerTracesTest, StoredVisibleTraceLiesBelowTheLiveChartsAndZeroLines) {
  const std::string uuid = storeTrace(-12.0f, 30.0f, 170.0f);
  ASSERT_FALSE(uuid.empty());
  area_.build();

  EXPECT_EQ(chartNames(area_.mag()), (std::vector<std::string>{uuid, "mag", "zero magnitude"}));
  EXPECT_EQ(chartNames(area_.phase()),
            (std::vector<std::string>{uuid, "coh", "phs", "zero phase"}));
  EXPECT_EQ(chartNames(area_.impulse()), (std::vector<std::string>{"imp"}));

  // The trace's magnitude and phase curves, in the store's colour; coherence is not drawn.
  const auto mag = dataOf(area_.mag(), uuid);
  ASSERT_EQ(mag.size(), static_cast<size_t>(PlotArea::bandCount()));
  EXPECT_FLOAT_EQ(mag.front(), -12.0f);
  EXPECT_FLOAT_EQ(dataOf(area_.phase(), uuid).back(), 30.0f);
  plot::ChartSnapshot s;
  area_.mag().chartList().chartWithID(uuid)->snapshot(s);
  const RGBAColor color = *area_.store().colorForShot(*area_.store().allTraceShots().firstObject());
  EXPECT_EQ(s.color, plot::toColorBytes({color.red, color.green, color.blue, color.alpha}));
  EXPECT_EQ(s.x, area_.plots().modelSpan());
}

TEST_F(PlotControllerTracesTest, CaptureStoresTFWithItsCommentAndRaisesTheLiveCurvesLater) {
  area_.build();
  TransferFunctionModel& model = area_.model();
  model.setAveragingIndex(0.5f);
  const int32_t n = model.bandCount();
  for (int32_t b = 0; b < n; ++b) guitest::setBand(model, b, {-3.0f, 45.0f, 160.0f});

  area_.plots().shotLiveTrace();

  auto shots = area_.store().allTraceShots();
  ASSERT_EQ(shots.count(), 1u);
  const TraceShot& shot = *shots.firstObject();
  EXPECT_EQ(shot.name, "TF");
  EXPECT_EQ(shot.comment, "Smoothing: 1/12 oct, averaging: 0.500000, delay: 0.00 ms");
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot.coherenceData), std::vector<float>(n, 160.0f));
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot.phaseData), std::vector<float>(n, 45.0f));

  // Just captured, the trace lies on top ...
  const std::string uuid = *shot.uuid;
  EXPECT_EQ(chartNames(area_.mag()).back(), uuid);
  EXPECT_EQ(chartNames(area_.phase()).back(), uuid);
  // ... until the live curves come back above it.
  ASSERT_TRUE(
      guitest::processEventsUntil([&] { return chartNames(area_.mag()).back() == "mag"; }, 5000));
  EXPECT_EQ(chartNames(area_.mag()), (std::vector<std::string>{"zero magnitude", uuid, "mag"}));
  EXPECT_EQ(chartNames(area_.phase()),
            (std::vector<std::string>{"zero phase", uuid, "coh", "phs"}));
}

TEST_F(PlotControllerTracesTest, CaptureCommentCarriesTheDelayAndSmoothing) {
  area_.build();
  area_.plots().setSmoothing(24);
  area_.plots().setDelay(-1.5f);
  EXPECT_EQ(area_.plots().smoothing(), 24);
  EXPECT_FLOAT_EQ(area_.plots().delay(), -1.5f);
  area_.model().setAveragingIndex(100.0f);
  area_.plots().shotLiveTrace();
  ASSERT_EQ(area_.store().allTraceShots().count(), 1u);
  EXPECT_EQ(area_.store().allTraceShots().firstObject()->comment,
            "Smoothing: 1/24 oct, averaging: 100.000000, delay: -1.50 ms");
}

TEST_F(PlotControllerTracesTest, HidingRemovesEveryCurveOfTheTraceFromBothViews) {
  const std::string uuid = storeTrace(-1.0f, 1.0f, 180.0f);
  const std::string other = storeTrace(-2.0f, 2.0f, 180.0f);
  area_.build();
  // Showing all reports every visible trace again.
  area_.store().setVisibilityForAllTraces(true);
  area_.store().setVisibilityForAllTraces(true);
  EXPECT_LE(chartsNamed(area_.mag(), uuid), 1u);

  const auto shots = area_.store().allTraceShots();
  const auto it = std::find_if(shots.begin(), shots.end(),
                               [&](const TraceShotRef& s) { return s->uuid == uuid; });
  ASSERT_NE(it, shots.end());
  area_.store().toggleVisibilityForShot(**it);

  EXPECT_EQ(chartsNamed(area_.mag(), uuid), 0u);
  EXPECT_EQ(chartsNamed(area_.phase(), uuid), 0u);
  EXPECT_EQ(chartsNamed(area_.mag(), other), 1u);
  // The live charts keep their proxies.
  EXPECT_EQ(area_.mag().chartProxies()->size(), 2u);
  EXPECT_NE(area_.plots().liveMagChart(), nullptr);
}

TEST_F(PlotControllerTracesTest, TraceWithUnequalCurvesIsLoggedAndNotDrawn) {
  area_.build();
  test::LogCapture log;
  const auto before = chartNames(area_.mag());
  const Bytes eight(8, 0);
  const Bytes four(4, 0);
  auto shot = area_.store().saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo(eight, four, eight,
                                                                                 "broken", "");
  ASSERT_NE(shot, nullptr);
  const auto lines = log.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Error reading trace data"), lines.end());
  EXPECT_EQ(chartNames(area_.mag()), before);
  EXPECT_EQ(chartsNamed(area_.phase(), *shot->uuid), 0u);
}

TEST_F(PlotControllerTracesTest, EmptyTraceIsLoggedAndNotDrawn) {
  area_.build();
  test::LogCapture log;
  auto shot =
      area_.store().saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo({}, {}, {}, "empty", "");
  ASSERT_NE(shot, nullptr);
  const auto lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Error reading trace data"), 1);
  EXPECT_EQ(chartsNamed(area_.mag(), *shot->uuid), 0u);
}

}  // namespace
}  // namespace qv::gui
