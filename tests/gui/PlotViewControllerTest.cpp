// The plot area: the three views' layout and its resizes, pan and zoom linked between the
// magnitude and phase views, the cursor snapped to the model's bands, and the axis labels.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QWheelEvent>
#include <any>
#include <cmath>
#include <vector>

#include "gui/display/QVPlotViewController.h"
#include "platform/NotificationCenter.h"
#include "support/DisplayTestSupport.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::PlotArea;

class PlotViewControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { area_.build(); }

  // Collects the "QVCursorMoved" payloads.
  struct CursorListener {
    CursorListener()
        : token(NotificationCenter::defaultCenter().addObserver(
              "QVCursorMoved", [this](const std::any& object) {
                payloads.push_back(std::any_cast<std::vector<float>>(object));
              })) {}
    std::vector<std::vector<float>> payloads;
    NotificationCenter::Token token;
  };

  PlotArea area_{1000, 600};
};

// With H = 600 every height below is a whole number: 0.33·H = 198, 0.5·H = 300.
TEST_F(PlotViewControllerTest, ImpulseViewShownStacksThreeViewsWithTheirGaps) {
  area_.controller().setShowImpulsePlot(true);
  const QRect phase = area_.phase().geometry();
  const QRect mag = area_.mag().geometry();
  const QRect imp = area_.impulse().geometry();

  EXPECT_EQ(phase.height(), 198);
  EXPECT_EQ(mag.height(), 196);
  EXPECT_EQ(imp.height(), 194);
  // Phase at the bottom edge, magnitude 4 points above it, impulse 2 points above that.
  EXPECT_EQ(phase.y() + phase.height(), 600);
  EXPECT_EQ(mag.y() + mag.height() + 4, phase.y());
  EXPECT_EQ(imp.y() + imp.height() + 2, mag.y());
  EXPECT_EQ(imp.y(), 6);  // 0.01·H left free at the top
  for (const QRect& r : {phase, mag, imp}) {
    EXPECT_EQ(r.x(), 0);
    EXPECT_EQ(r.width(), 1000);
  }
  EXPECT_FALSE(area_.impulse().isHidden());
}

TEST_F(PlotViewControllerTest, ImpulseViewHiddenSplitsTheHeightInHalves) {
  area_.controller().setShowImpulsePlot(true);
  area_.controller().setShowImpulsePlot(false);
  const QRect phase = area_.phase().geometry();
  const QRect mag = area_.mag().geometry();

  EXPECT_TRUE(area_.impulse().isHidden());
  EXPECT_EQ(phase, QRect(0, 300, 1000, 300));
  // 0.5·H − 2 high and 4 points above the phase view: its top 2 points lie past the edge.
  EXPECT_EQ(mag, QRect(0, -2, 1000, 298));
}

TEST_F(PlotViewControllerTest, LayoutFollowsTheBaseViewsSize) {
  area_.controller().setShowImpulsePlot(true);
  area_.base().show();  // a hidden widget hears of its new size only when shown
  area_.base().resize(700, 900);
  EXPECT_EQ(area_.phase().geometry(), QRect(0, 603, 700, 297));
  EXPECT_EQ(area_.mag().geometry(), QRect(0, 304, 700, 295));
  EXPECT_EQ(area_.impulse().geometry(), QRect(0, 9, 700, 293));
}

TEST_F(PlotViewControllerTest, FramesKeepTheirOrderInAnOffsetBaseRectangle) {
  const auto f = QVPlotViewController::framesForBounds(QRect(10, 20, 400, 300), true);
  EXPECT_EQ(f.phase.y() + f.phase.height(), 320);
  EXPECT_LT(f.impulse.y(), f.magnitude.y());
  EXPECT_LT(f.magnitude.y(), f.phase.y());
  EXPECT_EQ(f.impulse.x(), 10);
}

TEST_F(PlotViewControllerTest, PanningEitherViewMovesTheOthersXRangeAndKeepsItsYRange) {
  SpectrumPlotView& mag = area_.mag();
  SpectrumPlotView& phase = area_.phase();
  const PlotRange magY = mag.visibleRangeY();
  const PlotRange phaseY = phase.visibleRangeY();

  mag.setVisibleRangeMinXMaxXMinYMaxY(2.0, 3.0, magY.min, magY.max);
  area_.controller().plotViewPanned(&mag);
  EXPECT_EQ(phase.visibleRangeX(), (PlotRange{2.0, 3.0}));
  EXPECT_EQ(phase.visibleRangeY(), phaseY);

  phase.setVisibleRangeMinXMaxXMinYMaxY(1.5, 2.5, -90.0, 90.0);
  area_.controller().plotViewZoomedIsHorizontal(&phase, true);
  EXPECT_EQ(mag.visibleRangeX(), (PlotRange{1.5, 2.5}));
  EXPECT_EQ(mag.visibleRangeY(), magY);
}

TEST_F(PlotViewControllerTest, StartsAtTheFullFrequencyAxisWithItsOwnYRanges) {
  const float xMin = LinToLogTransformer::logFreqFromHz(8.0f);
  const float xVisibleMin = LinToLogTransformer::logFreqFromHz(14.0f);
  const float xMax = LinToLogTransformer::logFreqFromHz(22000.0f);
  EXPECT_EQ(area_.mag().rangeX(), (PlotRange{xMin, xMax}));
  EXPECT_EQ(area_.mag().visibleRangeX(), (PlotRange{xVisibleMin, xMax}));
  EXPECT_EQ(area_.mag().visibleRangeY(), (PlotRange{-28.0, 22.0}));
  EXPECT_EQ(area_.phase().visibleRangeY(), (PlotRange{-180.0, 180.0}));
  EXPECT_EQ(area_.phase().rangeY(), (PlotRange{-225.0, 225.0}));
  EXPECT_EQ(area_.mag().gridStepX(), static_cast<double>(0.3f));
  EXPECT_EQ(area_.phase().gridStepX(), area_.mag().gridStepX());
}

TEST_F(PlotViewControllerTest, CursorOutsideEightHertzToFortyKilohertzStaysAndPostsNothing) {
  CursorListener listener;
  const QPointF low(std::log10(7.99), 3.0);
  const QPointF high(std::log10(40010.0), -3.0);
  EXPECT_EQ(area_.controller().plotViewCursorMoved(&area_.mag(), low), low);
  EXPECT_EQ(area_.controller().plotViewCursorMoved(&area_.phase(), high), high);
  EXPECT_TRUE(listener.payloads.empty());
}

TEST_F(PlotViewControllerTest, CursorBetweenBandsSnapsBothViewsAndReadsCoherenceInPercent) {
  TransferFunctionModel& model = area_.model();
  const int32_t band = 600;
  // Coherence is kept × 180: 90 is a coherence of 0.5.
  guitest::setBand(model, band, {-6.5f, 42.0f, 90.0f});
  guitest::setBand(model, band + 1, {-1.0f, -10.0f, 180.0f});
  const double x0 = model.logFrequencyForBandIndex(band);
  const double x1 = model.logFrequencyForBandIndex(band + 1);
  CursorListener listener;

  const QPointF fromMag =
      area_.controller().plotViewCursorMoved(&area_.mag(), QPointF(x0 + 0.3 * (x1 - x0), 5.0));
  const double snappedX = std::log10(model.frequencyForBandIndex(band));
  EXPECT_NEAR(fromMag.x(), snappedX, 1e-6);
  EXPECT_FLOAT_EQ(fromMag.y(), -6.5f);
  EXPECT_NEAR(area_.phase().cursorPosition().x(), snappedX, 1e-6);
  EXPECT_FLOAT_EQ(area_.phase().cursorPosition().y(), 42.0f);
  EXPECT_EQ(area_.mag().cursorPosition(), fromMag);

  ASSERT_EQ(listener.payloads.size(), 1u);
  const std::vector<float>& p = listener.payloads[0];
  ASSERT_EQ(p.size(), 4u);
  EXPECT_FLOAT_EQ(p[0], model.frequencyForBandIndex(band));
  EXPECT_FLOAT_EQ(p[1], -6.5f);
  EXPECT_FLOAT_EQ(p[2], 42.0f);
  EXPECT_FLOAT_EQ(p[3], 50.0f);

  // From the phase view the cursor sits on the phase curve, here of the upper band.
  const QPointF fromPhase =
      area_.controller().plotViewCursorMoved(&area_.phase(), QPointF(x0 + 0.8 * (x1 - x0), 0.0));
  EXPECT_NEAR(fromPhase.x(), std::log10(model.frequencyForBandIndex(band + 1)), 1e-6);
  EXPECT_FLOAT_EQ(fromPhase.y(), -10.0f);
  EXPECT_FLOAT_EQ(listener.payloads.back()[3], 100.0f);
}

TEST_F(PlotViewControllerTest, CursorOnABlankedBandKeepsItsHeight) {
  TransferFunctionModel& model = area_.model();
  const int32_t band = 300;
  guitest::setBand(model, band, {NAN, NAN, 10.0f});
  const QPointF at(model.logFrequencyForBandIndex(band), 7.0);
  const QPointF snapped = area_.controller().plotViewCursorMoved(&area_.mag(), at);
  EXPECT_FLOAT_EQ(snapped.y(), 7.0f);
  EXPECT_TRUE(std::isfinite(area_.phase().cursorPosition().y()));
}

TEST(FrequencyLabelsTest, NameTheOctaveLinesFromEightHertz) {
  const QStringList labels = QVPlotController::frequencyLabels();
  ASSERT_EQ(labels.size(), 13);
  EXPECT_EQ(labels[0], "");  // 8 Hz sits on the edge
  EXPECT_EQ(labels[1], "16");
  EXPECT_EQ(labels[3], "63");
  EXPECT_EQ(labels[4], "125");
  EXPECT_EQ(labels[7], " 1K");
  EXPECT_EQ(labels[10], " 8K");
  EXPECT_EQ(labels[11], "16K");
  EXPECT_EQ(labels[12], "32K");
}

TEST_F(PlotViewControllerTest, ViewsCarryTheirLookAndCursors) {
  EXPECT_TRUE(area_.mag().hasCursor());
  EXPECT_TRUE(area_.phase().hasCursor());
  EXPECT_FALSE(area_.impulse().hasCursor());
  EXPECT_EQ(area_.mag().cursorColor(), QColor(Qt::white));
  EXPECT_FALSE(area_.mag().isScaleSideVisible(PlotSideBottom));
  EXPECT_FALSE(area_.phase().isScaleSideVisible(PlotSideTop));
  for (PlotSide side : {PlotSideLeft, PlotSideRight, PlotSideTop, PlotSideBottom})
    EXPECT_FALSE(area_.impulse().isScaleSideVisible(side));
  EXPECT_EQ(area_.impulse().visibleRangeX(), (PlotRange{-0.0125, 0.4}));
  EXPECT_EQ(area_.mag().delegate(), &area_.controller());
  EXPECT_EQ(area_.impulse().delegate(), nullptr);
  ASSERT_EQ(area_.controller().linkedPlotViews().size(), 2u);
  EXPECT_EQ(area_.controller().linkedPlotViews()[0], &area_.mag());
}

}  // namespace
}  // namespace qv::gui

namespace qv::gui {
namespace {

// The link as a user meets it: a drag in one view and a wheel zoom in the other.
TEST(PlotViewGestureTest, DragAndWheelInOneFrequencyViewMoveTheOther) {
  guitest::PlotArea area(1000, 600);
  area.build();
  area.base().show();
  SpectrumPlotView& mag = area.mag();
  SpectrumPlotView& phase = area.phase();
  const PlotRange phaseY = phase.visibleRangeY();
  const PlotRange startX = mag.visibleRangeX();

  const QPointF from = mag.chartRect().center();
  const QPointF to = from + QPointF(60, 0);
  QMouseEvent press(QEvent::MouseButtonPress, from, mag.mapToGlobal(from), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent move(QEvent::MouseMove, to, mag.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, to, mag.mapToGlobal(to), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&mag, &press);
  QCoreApplication::sendEvent(&mag, &move);
  QCoreApplication::sendEvent(&mag, &release);
  ASSERT_LT(mag.visibleRangeX().min, startX.min);  // dragged right: lower frequencies
  EXPECT_EQ(phase.visibleRangeX(), mag.visibleRangeX());
  EXPECT_EQ(phase.visibleRangeY(), phaseY);

  const PlotRange magY = mag.visibleRangeY();
  const QPointF at = phase.chartRect().center();
  QWheelEvent wheel(at, phase.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::ShiftModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&phase, &wheel);
  EXPECT_EQ(mag.visibleRangeX(), phase.visibleRangeX());
  EXPECT_EQ(mag.visibleRangeY(), magY);
}

}  // namespace
}  // namespace qv::gui
