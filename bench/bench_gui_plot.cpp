// One frame of a 1600 × 400 plot view rendered into an image: three live 1100-point
// curves (new data every frame, as at 30 ticks a second), two captured traces, the grid,
// labels on all four sides and the cursor; at device pixel ratio 1 and 2; with the labels
// beside the chart area (0), over it (1), or in columns of their own as the measurement
// views have them (2).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "gui/plot/PlotView.h"

namespace {

constexpr int kBands = 1100;

struct Curves {
  std::vector<std::vector<float>> frames;  // a few frames of live data to cycle through
};

// Noisy curves like a live measurement: smooth at low frequencies, ragged high up.
std::vector<float> curve(std::mt19937& rng, double offset, double noise) {
  std::normal_distribution<float> n(0.0f, 1.0f);
  std::vector<float> v(kBands);
  for (int i = 0; i < kBands; ++i) {
    const double roughness = noise * std::pow(static_cast<double>(i) / kBands, 2.0);
    v[i] = static_cast<float>(offset + 8.0 * std::sin(i * 0.01) + roughness * n(rng));
  }
  return v;
}

std::vector<float> wrappedPhase(std::mt19937& rng) {
  std::normal_distribution<float> n(0.0f, 1.0f);
  std::vector<float> v(kBands);
  for (int i = 0; i < kBands; ++i) {
    v[i] = static_cast<float>(std::remainder(40.0 - 0.8 * i + 30.0 * n(rng) * i / kBands, 360.0));
  }
  return v;
}

void BM_PlotViewFrame(benchmark::State& state) {
  const double dpr = static_cast<double>(state.range(0));
  const int64_t labels = state.range(1);
  const qv::plot::XValuesSpan span{static_cast<float>(std::log10(8.0)),
                                   static_cast<float>(std::log10(22000.0)), kBands};
  qv::gui::PlotView view;
  view.resize(1600, 400);
  view.setRangeMinXMaxXMinYMaxY(span.firstX, span.lastX, -180, 180);
  view.setVisibleRangeMinXMaxXMinYMaxY(std::log10(14.0), span.lastX, -180, 180);
  view.setGridStepX(0.3f);
  view.setGridStepY(30.0);
  const QStringList frequencies{"",    "16",  "32",  "63",  "125", "250", "500",
                                " 1K", " 2K", " 4K", " 8K", "16K", "32K"};
  view.setLabelsForSide(frequencies, qv::gui::PlotSideBottom);
  view.setLabelsForSide(frequencies, qv::gui::PlotSideTop);
  view.setScaleFontSize(16.0f);
  if (labels > 0) view.setScalesOverlaid(true);
  if (labels == 2) {
    view.setScaleUnit(qv::gui::PlotSideLeft, "°");
    view.setScaleUnit(qv::gui::PlotSideRight, "%");
    view.setScaleUnit(qv::gui::PlotSideBottom, "Hz");
    view.setRightScale(100.0 / 180.0, 0.0, 180.0);
    view.setScaleLabelColumnWidth(1.0);
    view.setScaleLabelColumnWidth(view.scaleLabelColumnWidthNeeded());
  }
  view.addCursor();
  view.setCursorPosition({3.0, 10.0});

  std::mt19937 rng(7);
  auto trace1 = view.addLineChartWithName("t1", span, 1.0f, {0.2f, 0.8f, 1.0f, 1.0f});
  auto trace2 = view.addPhaseLineChartWithName("t2", span, 1.0f, {1.0f, 0.8f, 0.2f, 1.0f});
  const auto t1 = curve(rng, -20.0, 20.0);
  const auto t2 = wrappedPhase(rng);
  view.setDataOfLengthForChart(t1.data(), kBands, trace1.get());
  view.setDataOfLengthForChart(t2.data(), kBands, trace2.get());
  auto mag = view.addLineChartWithName("mag", span, 2.0f, {1.0f, 1.0f, 1.0f, 1.0f});
  auto coh = view.addLineChartWithName("coh", span, 2.0f, {1.0f, 0.3f, 0.0f, 1.0f});
  auto phs = view.addPhaseLineChartWithName("phs", span, 2.0f, {1.0f, 1.0f, 1.0f, 1.0f});

  std::vector<std::vector<float>> frames;
  for (int f = 0; f < 4; ++f) {
    frames.push_back(curve(rng, 0.0, 30.0));
    frames.push_back(curve(rng, 120.0, 40.0));
    frames.push_back(wrappedPhase(rng));
  }
  size_t frame = 0;
  for (auto _ : state) {
    const size_t k = (frame++ % 4) * 3;
    view.setDataOfLengthForChart(frames[k].data(), kBands, mag.get());
    view.setDataOfLengthForChart(frames[k + 1].data(), kBands, coh.get());
    view.setDataOfLengthForChart(frames[k + 2].data(), kBands, phs.get());
    const QImage image = view.renderImage(dpr);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_PlotViewFrame)
    ->ArgNames({"dpr", "labels"})
    ->ArgsProduct({{1, 2}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
