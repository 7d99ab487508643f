// Chart data arriving from another thread (as the update queue delivers it) while the
// main thread paints: every frame shows one whole data set per chart, never a mix.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "gui/plot/PlotView.h"
#include "gui/support/GuiTestSupport.h"
#include "gui/support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotView;

namespace {

constexpr int kPoints = 1100;
constexpr int kFrames = 500;

TEST(PlotViewConcurrencyTest, FramesShowWholeDataSetsWhileAnotherThreadSetsData) {
  auto view = makeBareView(400, 200);
  auto spectrogram = view->addSpectrogramWithName("sg", span(kPoints), 8);
  auto phase = view->addPhaseLineChartWithName("phs", span(kPoints), 1.0f, kRed);
  // A chart the main thread deletes while the producer still holds and feeds it.
  auto doomed = view->addLineChartWithName("doomed", span(kPoints), 1.0f, kGreen);
  auto line = view->addLineChartWithName("mag", span(kPoints), 2.0f, kWhite);  // on top

  // Two data sets for the line: flat at +50 and flat at -50. A torn copy would show
  // part of each.
  const std::vector<float> up(kPoints, 50.0f);
  const std::vector<float> down(kPoints, -50.0f);
  std::vector<float> wrapping(kPoints);
  for (int i = 0; i < kPoints; ++i) wrapping[i] = static_cast<float>((i * 7) % 360 - 180);

  // Before the producer's first set the line would lie at 0, between the two probes.
  view->setDataOfLengthForChart(up.data(), kPoints, line.get());

  std::atomic<bool> stop{false};
  std::atomic<int> produced{0};
  std::thread producer([&] {
    for (int n = 0; !stop.load(std::memory_order_relaxed); ++n) {
      const auto& values = (n % 2 == 0) ? up : down;
      view->setDataOfLengthForChart(values.data(), kPoints, line.get());
      view->setDataOfLengthForChart(wrapping.data(), kPoints - (n % 3), phase.get());
      view->setDataOfLengthForChart(values.data(), kPoints, spectrogram.get());
      view->setDataOfLengthForChart(values.data(), kPoints, doomed.get());
      produced.fetch_add(1, std::memory_order_relaxed);
    }
  });

  // The white line's rows: y +50 at row 50, y -50 at row 150.
  const int upRow = static_cast<int>(view->widgetPointForValue({0, 50}).y());
  const int downRow = static_cast<int>(view->widgetPointForValue({0, -50}).y());
  int mixed = 0;
  int sawUp = 0;
  int sawDown = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    if (frame == kFrames / 2) view->deleteChart(doomed.get());
    const QImage image = view->renderImage();
    auto isWhite = [&](int x, int y) { return image.pixel(x, y) == qRgb(255, 255, 255); };
    const bool leftUp = isWhite(20, upRow) || isWhite(20, upRow - 1);
    const bool rightUp = isWhite(380, upRow) || isWhite(380, upRow - 1);
    const bool leftDown = isWhite(20, downRow) || isWhite(20, downRow - 1);
    const bool rightDown = isWhite(380, downRow) || isWhite(380, downRow - 1);
    if (leftUp != rightUp || leftDown != rightDown) ++mixed;
    sawUp += leftUp ? 1 : 0;
    sawDown += leftDown ? 1 : 0;
  }
  // Real paint events too, through the coalesced path.
  view->show();
  for (int i = 0; i < 5; ++i) {
    view->update();
    processEventsFor(20);
  }
  stop.store(true);
  producer.join();

  EXPECT_EQ(mixed, 0);
  EXPECT_GT(produced.load(), 0);
  EXPECT_EQ(sawUp + sawDown, kFrames);  // every frame shows the line somewhere
  EXPECT_FALSE(view->chartList().contains(doomed.get()));
}

}  // namespace
