// Plot views as the measurement window uses them, compared with their stored rendering (and
// kept for a person to look at):
// every chart kind, the grid, labels on all four sides, overlaid scales and the cursor.
#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <limits>
#include <vector>

#include "gui/Theme.h"
#include "gui/plot/PlotView.h"
#include "support/GuiTestSupport.h"
#include "support/PlotViewTestSupport.h"

using namespace qv::guitest;
using qv::gui::PlotSide;
using qv::gui::PlotView;

namespace {

constexpr int kBands = 1100;

QStringList frequencyLabels() {
  return {"", "16", "32", "63", "125", "250", "500", " 1K", " 2K", " 4K", " 8K", "16K", "32K"};
}

std::unique_ptr<PlotView> frequencyView(double minY, double maxY, double visibleMinY,
                                        double visibleMaxY, double stepY) {
  auto view = std::make_unique<PlotView>();
  view->resize(900, 260);
  view->setRangeMinXMaxXMinYMaxY(std::log10(8.0), std::log10(22000.0), minY, maxY);
  view->setVisibleRangeMinXMaxXMinYMaxY(std::log10(14.0), std::log10(22000.0), visibleMinY,
                                        visibleMaxY);
  view->setGridStepX(0.3f);
  view->setGridStepY(stepY);
  view->setLabelsForSide(frequencyLabels(), qv::gui::PlotSideBottom);
  view->setLabelsForSide(frequencyLabels(), qv::gui::PlotSideTop);
  view->setScaleFontSize(14.0f);
  view->addCursor();
  view->setCursorThickness(1.0);
  return view;
}

qv::plot::XValuesSpan bandSpan() {
  return {static_cast<float>(std::log10(8.0)), static_cast<float>(std::log10(22000.0)), kBands};
}

// A loudspeaker-like response: a low roll-off, a bump, a dip and noise up high.
float magnitudeAt(int i) {
  const double f =
      std::pow(10.0, std::log10(8.0) + (std::log10(22000.0) - std::log10(8.0)) * i / (kBands - 1));
  const double rolloff = -12.0 * std::log2(std::max(1.0, 60.0 / f));
  const double bump = 4.0 * std::exp(-std::pow(std::log2(f / 120.0), 2.0));
  const double dip = -9.0 * std::exp(-std::pow(std::log2(f / 3000.0) * 3.0, 2.0));
  return static_cast<float>(rolloff + bump + dip + 1.5 * std::sin(i * 0.37) * (f > 8000 ? 1 : 0.2));
}

QImage stack(const std::vector<QImage>& images, double dpr) {
  int height = 0;
  int width = 0;
  for (const QImage& im : images) {
    height += im.height() + static_cast<int>(8 * dpr);
    width = std::max(width, im.width());
  }
  QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
  out.fill(qv::gui::theme::kPanelBackground);
  QPainter p(&out);
  int y = 0;
  for (const QImage& im : images) {
    QImage copy = im;
    copy.setDevicePixelRatio(1.0);
    p.drawImage(0, y, copy);
    y += im.height() + static_cast<int>(8 * dpr);
  }
  return out;
}

// The impulse, magnitude and phase views of a measurement window, stacked: every chart
// kind, labels inside and outside the chart area, the cursor.
QImage allKindsScene(double dpr) {
  const float nan = std::numeric_limits<float>::quiet_NaN();

  // Magnitude: a spectrogram at the bottom, octave bars, a captured trace, the broad zero
  // line, and the live curve on top with a blanked band; scales outside the chart area.
  auto mag = frequencyView(-60, 60, -28, 22, 6.0);
  auto sg = mag->addSpectrogramWithName("sg", bandSpan(), 24);
  std::vector<float> row(kBands);
  for (int t = 0; t < 24; ++t) {
    for (int i = 0; i < kBands; ++i)
      row[i] = magnitudeAt(i) - 35.0f + 25.0f * std::sin(t * 0.4 + i * 0.004);
    mag->setDataOfLengthForChart(row.data(), kBands, sg.get());
    (void)mag->renderImage(dpr);
  }
  auto bars = mag->addBarChartWithName(
      "bands", {static_cast<float>(std::log10(16.0)), static_cast<float>(std::log10(16000.0)), 11},
      {0.2f, 0.6f, 1.0f, 0.55f}, {0.1f, 0.2f, 0.5f, 0.55f});
  std::vector<float> bandLevels{-20, -14, -10, -11, -13, -9, -10, -15, -18, -16, -24};
  mag->setDataOfLengthForChart(bandLevels.data(), 11, bars.get());
  std::vector<float> trace(kBands);
  for (int i = 0; i < kBands; ++i) trace[i] = magnitudeAt(i) - 4.0f;
  auto traceChart = mag->addLineChartWithName("trace", bandSpan(), 1.0f, {0.2f, 0.8f, 1.0f, 1.0f});
  mag->setDataOfLengthForChart(trace.data(), kBands, traceChart.get());
  mag->addLineChartWithName("zero magnitude", {bandSpan().firstX, bandSpan().lastX, 2}, 10.0f,
                            {1.0f, 1.0f, 1.0f, 0.15f});
  std::vector<float> live(kBands);
  for (int i = 0; i < kBands; ++i) live[i] = magnitudeAt(i);
  for (int i = 900; i < 940; ++i) live[i] = nan;
  auto liveChart = mag->addLineChartWithName("mag", bandSpan(), 2.0f, kWhite);
  mag->setDataOfLengthForChart(live.data(), kBands, liveChart.get());
  mag->setCursorPosition({std::log10(1000.0), magnitudeAt(640)});

  // Phase: overlaid scales, labels on all four sides, a wrapping phase, coherence, dots.
  auto phs = frequencyView(-225, 225, -180, 180, 45.0);
  phs->setScalesOverlaid(true);
  std::vector<float> coh(kBands);
  std::vector<float> phase(kBands);
  for (int i = 0; i < kBands; ++i) {
    coh[i] = static_cast<float>(180.0 * (0.97 - 0.5 * std::pow(i / double(kBands), 3.0)));
    const double unwrapped = 60.0 - 0.9 * i + 20.0 * std::sin(i * 0.02);
    phase[i] = static_cast<float>(std::remainder(unwrapped, 360.0));
  }
  auto cohChart = phs->addLineChartWithName("coh", bandSpan(), 2.0f, {1.0f, 0.3f, 0.0f, 1.0f});
  phs->setDataOfLengthForChart(coh.data(), kBands, cohChart.get());
  auto dots = phs->chartList().addChart(qv::plot::kChartPhaseDots, "dots", {2.0f, 2.5f, 12});
  dots->setColor(120, 200, 255, 255);
  dots->setThickness(2.0f);
  std::vector<float> dotValues{150, 170, -175, -160, -150, -130, -120, -100, -90, -80, -70, -60};
  phs->setDataOfLengthForChart(dotValues.data(), 12, dots.get());
  auto phaseChart = phs->addPhaseLineChartWithName("phs", bandSpan(), 2.0f, kWhite);
  phs->setDataOfLengthForChart(phase.data(), kBands, phaseChart.get());
  phs->setCursorPosition({std::log10(1000.0), phase[640]});

  // Impulse: no scales, a filled line and many points per pixel.
  auto imp = std::make_unique<PlotView>();
  imp->resize(900, 120);
  imp->setRangeMinXMaxXMinYMaxY(-0.05, 1.0, -1.0, 1.0);
  imp->setVisibleRangeMinXMaxXMinYMaxY(-0.0125, 0.4, -0.25, 0.25);
  imp->setGridStepX(0.1f);
  imp->setGridStepY(0.2f);
  for (int side = 0; side < qv::gui::PlotSideCount; ++side) {
    imp->setScaleSideVisible(static_cast<PlotSide>(side), false);
  }
  std::vector<float> ir(16384);
  for (int i = 0; i < 16384; ++i) {
    const double t = i / 16384.0;
    ir[i] = static_cast<float>(
        t < 0.05 ? 0.0 : 0.22 * std::exp(-(t - 0.05) * 40.0) * std::cos((t - 0.05) * 900.0));
  }
  auto impChart =
      imp->addLineChartWithName("imp", {0.0f, 1.0f, 16384}, 2.0f, {0.5f, 1.0f, 0.0f, 1.0f});
  imp->setDataOfLengthForChart(ir.data(), 16384, impChart.get());
  auto filled = imp->chartList().addChart(qv::plot::kChartFilledLine, "env", {0.0f, 1.0f, 400});
  filled->setColor(80, 140, 255, 255);
  std::vector<float> envelope(400);
  for (int i = 0; i < 400; ++i)
    envelope[i] = static_cast<float>(-0.24 + 0.05 * std::exp(-i / 40.0));
  imp->setDataOfLengthForChart(envelope.data(), 400, filled.get());

  // A second frame with the same data: what a live view shows from then on.
  (void)imp->renderImage(dpr);
  (void)mag->renderImage(dpr);
  (void)phs->renderImage(dpr);
  return stack({imp->renderImage(dpr), mag->renderImage(dpr), phs->renderImage(dpr)}, dpr);
}

QString sceneName(double dpr) { return dpr > 1.0 ? "plotview-all-kinds@2x" : "plotview-all-kinds"; }

class PlotViewScreenshotTest : public ::testing::TestWithParam<double> {};

// The frames match the stored rendering of the same scene up to antialiasing: a faster
// way of drawing may round an edge pixel differently, never move, drop or add anything.
TEST_P(PlotViewScreenshotTest, FramesMatchTheStoredRendering) {
  const double dpr = GetParam();
  const QImage shot = allKindsScene(dpr).convertToFormat(QImage::Format_ARGB32);
  saveScreenshot(shot, sceneName(dpr));
  const QImage reference = QImage(QStringLiteral(QV_REFERENCE_DIR "/") + sceneName(dpr) + ".png")
                               .convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(reference.isNull()) << "no stored rendering";
  ASSERT_EQ(shot.size(), reference.size());
  int worst = 0;
  int64_t changed = 0;
  for (int y = 0; y < shot.height(); ++y) {
    const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    const auto* b = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
    for (int x = 0; x < shot.width(); ++x) {
      const int d =
          std::max({std::abs(qRed(a[x]) - qRed(b[x])), std::abs(qGreen(a[x]) - qGreen(b[x])),
                    std::abs(qBlue(a[x]) - qBlue(b[x]))});
      worst = std::max(worst, d);
      if (d > 2) ++changed;
    }
  }
  // A rounding of coverage moves a level or two; a line, label or gap out of place
  // differs by far more than the limit on any pixel.
  EXPECT_LE(worst, 16);
  EXPECT_LE(changed, static_cast<int64_t>(shot.width()) * shot.height() / 1000);
}

INSTANTIATE_TEST_SUITE_P(Ratios, PlotViewScreenshotTest, ::testing::Values(1.0, 2.0));

}  // namespace
