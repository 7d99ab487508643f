// Captured traces on the live display: below the live curves at start, a capture stored
// as "TF" with its comment and the live curves raised above it a second later, hiding
// that removes every curve of the trace, and unreadable traces left undrawn.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::chartNames;
using guitest::chartsNamed;
using Names = std::vector<std::string>;

class PlotControllerTracesTest : public ::testing::Test {
 protected:
  std::string storeTrace(float magnitude) {
    const auto curves = guitest::PlotArea::curves(magnitude, 30.0f, 170.0f);
    auto shot = area_.store().newTraceWithNameFloatBufferLengthCountCommentUserInfo(
        "stored", curves.data(), guitest::PlotArea::bandCount(), 3, "");
    return shot ? shot->uuid.value_or("") : "";
  }
  guitest::PlotArea area_;
};

TEST_F(PlotControllerTracesTest, StoredVisibleTraceLiesBelowTheLiveChartsAndZeroLines) {
  const std::string uuid = storeTrace(-12.0f);
  area_.build();
  EXPECT_EQ(chartNames(area_.mag()), (Names{uuid, "mag", "zero magnitude"}));
  EXPECT_EQ(chartNames(area_.phase()), (Names{uuid, "coh", "phs", "zero phase"}));

  plot::ChartSnapshot s;
  area_.mag().chartList().chartWithID(uuid)->snapshot(s);
  EXPECT_EQ(s.values, std::vector<float>(guitest::PlotArea::bandCount(), -12.0f));
  EXPECT_EQ(s.x, area_.plots().modelSpan());
  const RGBAColor c = *area_.store().colorForShot(*area_.store().allTraceShots().firstObject());
  EXPECT_EQ(s.color, plot::toColorBytes({c.red, c.green, c.blue, c.alpha}));
}

TEST_F(PlotControllerTracesTest, CaptureStoresTFWithItsCommentAndRaisesTheLiveCurvesLater) {
  area_.build();
  TransferFunctionModel& model = area_.model();
  model.setAveragingIndex(0.5f);
  const int32_t n = model.bandCount();
  for (int32_t b = 0; b < n; ++b) guitest::setBand(model, b, {-3.0f, 45.0f, 160.0f});
  area_.session().publishDisplay();

  area_.plots().shotLiveTrace();
  const auto shots = area_.store().allTraceShots();
  ASSERT_EQ(shots.count(), 1u);
  const TraceShot& shot = *shots.firstObject();
  EXPECT_EQ(shot.name, "TF");
  EXPECT_EQ(shot.comment, "Smoothing: 1/12 oct, averaging: 0.500000, delay: 0.00 ms");
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot.phaseData), std::vector<float>(n, 45.0f));
  EXPECT_EQ(TraceShot::floatsFromBlob(*shot.coherenceData), std::vector<float>(n, 160.0f));

  // Just captured, the trace lies on top, until the live curves come back above it.
  const std::string uuid = *shot.uuid;
  EXPECT_EQ(chartNames(area_.mag()).back(), uuid);
  ASSERT_TRUE(
      guitest::processEventsUntil([&] { return chartNames(area_.mag()).back() == "mag"; }, 5000));
  EXPECT_EQ(chartNames(area_.mag()), (Names{"zero magnitude", uuid, "mag"}));
  EXPECT_EQ(chartNames(area_.phase()), (Names{"zero phase", uuid, "coh", "phs"}));

  // The comment tells the settings in force, even before a tick has applied them.
  area_.plots().setSmoothing(24);
  area_.plots().setDelay(-1.5f);
  area_.plots().shotLiveTrace();
  EXPECT_EQ(area_.store().allTraceShots().firstObject()->comment,
            "Smoothing: 1/24 oct, averaging: 0.500000, delay: -1.50 ms");
}

TEST_F(PlotControllerTracesTest, HidingRemovesEveryCurveOfTheTraceFromBothViews) {
  const std::string uuid = storeTrace(-1.0f);
  const std::string other = storeTrace(-2.0f);
  area_.build();
  area_.store().setVisibilityForAllTraces(true);  // reports every visible trace again
  const auto shots = area_.store().allTraceShots();
  const auto it = std::find_if(shots.begin(), shots.end(),
                               [&](const TraceShotRef& s) { return s->uuid == uuid; });
  ASSERT_NE(it, shots.end());
  area_.store().toggleVisibilityForShot(**it);
  EXPECT_EQ(chartsNamed(area_.mag(), uuid), 0u);
  EXPECT_EQ(chartsNamed(area_.phase(), uuid), 0u);
  EXPECT_EQ(chartsNamed(area_.mag(), other), 1u);
  EXPECT_EQ(area_.mag().chartProxies()->size(), 2u);  // the live charts keep their proxies
}

TEST_F(PlotControllerTracesTest, TraceWithUnequalOrEmptyCurvesIsLoggedAndNotDrawn) {
  area_.build();
  test::LogCapture log;
  const Names before = chartNames(area_.mag());
  TraceManager& store = area_.store();
  ASSERT_NE(store.saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo(Bytes(8), Bytes(4), Bytes(8),
                                                                       "odd", ""),
            nullptr);
  ASSERT_NE(store.saveTFWithMagnitudePhaseCoherenceNameCommentUserInfo({}, {}, {}, "empty", ""),
            nullptr);
  const auto lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Error reading trace data"), 2);
  EXPECT_EQ(chartNames(area_.mag()), before);
}

}  // namespace
}  // namespace qv::gui
