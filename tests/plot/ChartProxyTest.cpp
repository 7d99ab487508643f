#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/PushUnit.h"
#include "plot/ChartList.h"
#include "plot/ChartProxy.h"

namespace qv::plot {
namespace {

class ChartProxyTest : public ::testing::Test {
 protected:
  ChartList list;
  std::shared_ptr<Chart> chart =
      list.addLineChartWithName("live", {0.0f, 1.0f, 4}, 1.5f, Color{0, 0, 0, 1});
  std::shared_ptr<ChartProxy> proxy = ChartProxy::proxyWithChart(chart);
};

TEST_F(ChartProxyTest, ChartPointsBackToItsProxyUntilTheProxyEnds) {
  EXPECT_EQ(chart->userData(), proxy.get());
  EXPECT_EQ(proxy->chartPtr(), chart.get());
  proxy.reset();
  EXPECT_EQ(chart->userData(), nullptr);
}

// Each component · 255, truncated: 0.5 gives 127; out-of-range components are held.
TEST_F(ChartProxyTest, SetColorConvertsComponentsToBytes) {
  ChartSnapshot snap;
  proxy->setColor(Color{1.0f, 0.5f, 0.0f, 1.0f});
  chart->snapshot(snap);
  EXPECT_EQ(snap.color, (ColorBytes{255, 127, 0, 255}));
  proxy->setColor(Color{1.7f, -0.2f, 0.999f, 0.2f});
  chart->snapshot(snap);
  EXPECT_EQ(snap.color, (ColorBytes{255, 0, 254, 51}));
}

TEST_F(ChartProxyTest, DeleteChartRemovesItFromTheViewAndClearsThePointer) {
  auto other = list.addLineChartWithName("other", {}, 1.0f, Color{});
  proxy->moveToTop();
  EXPECT_EQ(list.charts().back(), chart);
  proxy->deleteChart();
  EXPECT_EQ(proxy->chartPtr(), nullptr);  // even though this test still holds the chart
  EXPECT_FALSE(list.contains(chart.get()));
  EXPECT_EQ(list.size(), 1u);
  proxy->deleteChart();  // twice is harmless
  proxy->setColor(Color{1, 1, 1, 1});
  EXPECT_EQ(proxy->type(), 0u);  // the kind outlives the chart
}

TEST_F(ChartProxyTest, EndsAChain) {
  auto stage = PushUnit::unit();
  stage->pushUnitConnectOutputTo(proxy);
  EXPECT_EQ(proxy->previousUnit(), stage);
  stage->pushUnitSetInputSize({3, 1, 1.0f, 4.0f});
  EXPECT_EQ(proxy->inputSize(), 3);
  EXPECT_EQ(proxy->unitGetInputSize(), (UnitBufferSize{3, 0, 0.0f, 0.0f}));
  EXPECT_EQ(proxy->unitGetOutputSize(), UnitBufferSize{});
  const float values[3] = {-1.0f, 0.0f, 1.0f};
  stage->pushUnitSetInputValues(values);
  ChartSnapshot snap;
  chart->snapshot(snap);
  EXPECT_EQ(snap.x, (XValuesSpan{1.0f, 4.0f, 3}));
  EXPECT_EQ(snap.values, (std::vector<float>{-1.0f, 0.0f, 1.0f}));
  proxy->pushUnitConnectOutputTo(PushUnit::unit());  // a chart is the end: ignored
}

TEST(ChartKindDeathTest, KindOutsideTheSixStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ChartList list;
  EXPECT_DEATH(list.addChart(6, "c", {}), "kind >= 0 && kind < kChartKindCount");
}

// The view deletes a chart on the main thread while a chain keeps pushing into it from
// another thread: the push either lands in the still-alive chart or is dropped.
TEST(ChartProxyConcurrencyTest, ViewDeletesChartWhileChainPushes) {
  for (int round = 0; round < 20; ++round) {
    ChartList list;
    auto proxy = ChartProxy::proxyWithChart(list.addLineChartWithName("live", {}, 1, Color{}));
    std::weak_ptr<Chart> watch = proxy->chart();
    proxy->pushUnitSetInputSize({256, 1, 0.0f, 1.0f});
    std::atomic<bool> started{false};
    std::thread chain([&] {
      std::vector<float> frame(256, 1.0f);
      for (int i = 0; i < 2000; ++i) {
        proxy->pushUnitSetInputValues(frame.data());
        started.store(true, std::memory_order_release);
      }
    });
    while (!started.load(std::memory_order_acquire)) std::this_thread::yield();
    list.deleteChartsWithID("live");
    EXPECT_EQ(proxy->chartPtr(), nullptr);
    chain.join();
    EXPECT_TRUE(watch.expired());
  }
}

}  // namespace
}  // namespace qv::plot
