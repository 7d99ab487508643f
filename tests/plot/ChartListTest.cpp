#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "plot/ChartList.h"

namespace qv::plot {
namespace {

class ChartListTest : public ::testing::Test {
 protected:
  std::shared_ptr<Chart> add(const std::string& name) {
    return list.addLineChartWithName(name, {0.0f, 1.0f, 3}, 1.0f, Color{});
  }
  std::vector<std::string> order() const {
    std::vector<std::string> names;
    for (const auto& c : list.charts()) names.push_back(c->name());
    return names;
  }
  ChartList list;
};

TEST_F(ChartListTest, NewChartsGoOnTopAndMoveToTopReorders) {
  auto a = add("a");
  auto b = add("b");
  add("c");
  EXPECT_EQ(order(), (std::vector<std::string>{"a", "b", "c"}));
  a->MoveToTop();
  EXPECT_EQ(order(), (std::vector<std::string>{"b", "c", "a"}));
  const uint64_t generation = list.generation();
  b->MoveToTop();
  EXPECT_EQ(order(), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_NE(list.generation(), generation);
}

TEST_F(ChartListTest, DeleteByChartAndByID) {
  auto a = add("trace");
  auto b = add("live");
  auto c = add("trace");
  EXPECT_EQ(list.chartWithID("trace"), c);  // the topmost of that name
  b->Delete();
  EXPECT_EQ(order(), (std::vector<std::string>{"trace", "trace"}));
  EXPECT_FALSE(b->isInList());
  EXPECT_FALSE(list.deleteChart(b.get()));  // already gone
  EXPECT_EQ(list.deleteChartsWithID("trace"), 2u);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.deleteChartsWithID("trace"), 0u);
  // Charts that left the list ignore list operations; data can still be set safely.
  a->MoveToTop();
  a->Delete();
  a->setData(std::vector<float>{1, 2, 3}.data(), 3);
  EXPECT_TRUE(list.empty());
}

TEST_F(ChartListTest, ChartsOutliveTheirListSafely) {
  std::shared_ptr<Chart> survivor;
  {
    ChartList local;
    survivor =
        local.addBarChartWithName("bars", {0.0f, 1.0f, 2}, Color{1, 0, 0, 1}, Color{0, 0, 1, 1});
  }
  EXPECT_FALSE(survivor->isInList());
  survivor->MoveToTop();  // no list to reach any more
  ChartSnapshot snap;
  survivor->snapshot(snap);
  EXPECT_EQ(snap.kind, kChartBar);
  EXPECT_EQ(snap.color, (ColorBytes{255, 0, 0, 255}));
  EXPECT_EQ(snap.color2, (ColorBytes{0, 0, 255, 255}));
}

TEST_F(ChartListTest, ChartWithoutDataDrawsAtZero) {
  auto chart = add("empty");
  ChartSnapshot snap;
  chart->snapshot(snap);
  EXPECT_FALSE(snap.hasData);
  EXPECT_EQ(snap.values, std::vector<float>(3, 0.0f));
  chart->setXValues(5, 1.0f, 2.0f);
  chart->snapshot(snap);
  EXPECT_EQ(snap.values, std::vector<float>(5, 0.0f));
  EXPECT_DOUBLE_EQ(snap.x.xAt(2), 1.5);
}

TEST_F(ChartListTest, SetDataCopiesAndVersionsTrackChanges) {
  auto chart = add("live");
  std::vector<float> source = {1.0f, 2.0f, 3.0f};
  const uint64_t v0 = chart->version();
  chart->setData(source.data(), 3);
  source[0] = 99.0f;  // the caller's array may change after the call
  ChartSnapshot snap;
  chart->snapshot(snap);
  EXPECT_EQ(snap.values, (std::vector<float>{1.0f, 2.0f, 3.0f}));
  EXPECT_TRUE(snap.hasData);
  EXPECT_GT(snap.version, v0);
  EXPECT_EQ(snap.version, chart->version());
  const float* storage = snap.values.data();
  chart->setData(source.data(), 3);
  chart->snapshot(snap);
  EXPECT_EQ(snap.values.data(), storage);  // a reader's buffer is reused at the same size
  EXPECT_EQ(snap.values[0], 99.0f);
}

// A writer on another thread replaces the data with frames of alternating length whose
// every value is the frame number; a reader must never see a mixture of two frames or a
// length that does not belong to its values.
TEST(ChartConcurrencyTest, SnapshotsAreConsistentUnderConcurrentWriter) {
  ChartList list;
  auto chart = list.addLineChartWithName("live", {0.0f, 1.0f, 1100}, 1.0f, Color{});
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    std::vector<float> longFrame(1100), shortFrame(551);
    for (int n = 1; !stop.load(std::memory_order_relaxed); ++n) {
      auto& frame = (n % 2) ? longFrame : shortFrame;
      std::fill(frame.begin(), frame.end(), float(n));
      chart->setData(frame.data(), int32_t(frame.size()));
      written.store(n, std::memory_order_release);
      if (n % 64 == 0) chart->setXValues(n % 128 ? 551 : 1100, 0.0f, float(n));
    }
  });
  while (written.load(std::memory_order_acquire) == 0) std::this_thread::yield();
  ChartSnapshot snap;
  int mixed = 0;
  int seenData = 0;
  // Read until both enough snapshots were taken and the writer has moved on by many frames,
  // so the two really overlapped however the threads were scheduled.
  const int firstWritten = written.load(std::memory_order_acquire);
  for (int i = 0; i < 20000 || written.load(std::memory_order_acquire) < firstWritten + 200; ++i) {
    chart->snapshot(snap);
    if (!snap.hasData) continue;
    ++seenData;
    const float first = snap.values.front();
    const size_t expected = (int(first) % 2) ? 1100u : 551u;
    if (snap.values.size() != expected) ++mixed;
    for (float v : snap.values) {
      if (v != first) {
        ++mixed;
        break;
      }
    }
    if (i % 1000 == 0) std::this_thread::yield();
  }
  stop = true;
  writer.join();
  EXPECT_EQ(mixed, 0);
  EXPECT_GE(seenData, 20000);
}

}  // namespace
}  // namespace qv::plot
