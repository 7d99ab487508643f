// The plot area: layout and resizes, pan and zoom linked between the frequency views, the
// cursor snapped to the model's bands, and the axis labels.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <any>
#include <cmath>

#include "gui/display/QVPlotViewController.h"
#include "platform/NotificationCenter.h"
#include "session/DelaySnapshot.h"
#include "support/DisplayTestSupport.h"

namespace qv::gui {
namespace {

class PlotViewControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { area_.build(); }
  // With H = 600 the heights are whole: 0.33·H = 198, 0.5·H = 300.
  guitest::PlotArea area_{1000, 600};
  std::vector<std::vector<float>> cursorPosts_;
  NotificationCenter::Token token_ = NotificationCenter::defaultCenter().addObserver(
      "QVCursorMoved",
      [this](const std::any& o) { cursorPosts_.push_back(std::any_cast<std::vector<float>>(o)); });
};

TEST_F(PlotViewControllerTest, ImpulseShownStacksImpulseMagnitudePhaseWithTheirGaps) {
  area_.controller().setShowImpulsePlot(true);
  const QRect phase = area_.phase().geometry();
  const QRect mag = area_.mag().geometry();
  const QRect imp = area_.impulse().geometry();
  EXPECT_EQ(phase, QRect(0, 402, 1000, 198));  // on the bottom edge
  EXPECT_EQ(mag, QRect(0, 202, 1000, 196));    // 4 points above the phase view
  EXPECT_EQ(imp, QRect(0, 6, 1000, 194));      // 2 points above the magnitude view
  EXPECT_FALSE(area_.impulse().isHidden());
}

TEST_F(PlotViewControllerTest, ImpulseHiddenSplitsInHalvesAndLayoutFollowsResizes) {
  area_.controller().setShowImpulsePlot(true);
  area_.controller().setShowImpulsePlot(false);
  EXPECT_TRUE(area_.impulse().isHidden());
  EXPECT_EQ(area_.phase().geometry(), QRect(0, 300, 1000, 300));
  // 0.5·H − 2 high, 4 points above the phase view: its top 2 points lie past the edge.
  EXPECT_EQ(area_.mag().geometry(), QRect(0, -2, 1000, 298));

  area_.controller().setShowImpulsePlot(true);
  area_.base().show();  // a hidden widget hears of its new size only when shown
  area_.base().resize(700, 900);
  EXPECT_EQ(area_.phase().geometry(), QRect(0, 603, 700, 297));
  EXPECT_EQ(area_.mag().geometry(), QRect(0, 304, 700, 295));
  EXPECT_EQ(area_.impulse().geometry(), QRect(0, 9, 700, 293));
}

// The link as a user meets it: a drag in one view, a horizontal wheel zoom in the other.
TEST_F(PlotViewControllerTest, DragAndZoomInEitherFrequencyViewMoveTheOthersXRangeOnly) {
  area_.base().show();
  SpectrumPlotView& mag = area_.mag();
  SpectrumPlotView& phase = area_.phase();
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
  for (QMouseEvent* e : {&press, &move, &release}) QCoreApplication::sendEvent(&mag, e);
  ASSERT_LT(mag.visibleRangeX().min, startX.min);  // dragged right: lower frequencies
  EXPECT_EQ(phase.visibleRangeX(), mag.visibleRangeX());
  EXPECT_EQ(phase.visibleRangeY(), phaseY);

  const PlotRange magY = mag.visibleRangeY();
  const QPointF at = phase.chartRect().center();
  QWheelEvent wheel(at, phase.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::ShiftModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&phase, &wheel);
  ASSERT_NE(phase.visibleRangeX(), phase.rangeX());
  EXPECT_EQ(mag.visibleRangeX(), phase.visibleRangeX());
  EXPECT_EQ(mag.visibleRangeY(), magY);
}

TEST_F(PlotViewControllerTest, CursorOutsideEightHertzToFortyKilohertzStaysAndPostsNothing) {
  const QPointF low(std::log10(7.99), 3.0);
  const QPointF high(std::log10(40010.0), -3.0);
  EXPECT_EQ(area_.controller().plotViewCursorMoved(&area_.mag(), low), low);
  EXPECT_EQ(area_.controller().plotViewCursorMoved(&area_.phase(), high), high);
  EXPECT_TRUE(cursorPosts_.empty());
}

TEST_F(PlotViewControllerTest, CursorBetweenBandsSnapsBothViewsAndReadsCoherenceInPercent) {
  TransferFunctionModel& model = area_.model();
  const int32_t b = 600;
  guitest::setBand(model, b, {-6.5f, 42.0f, 90.0f});  // coherence kept × 180: 90 is 0.5
  guitest::setBand(model, b + 1, {-1.0f, -10.0f, 180.0f});
  guitest::setBand(model, b + 2, {NAN, NAN, 0.0f});  // blanked
  area_.session().publishDisplay();
  const double x0 = model.logFrequencyForBandIndex(b);
  const double x1 = model.logFrequencyForBandIndex(b + 1);
  const double snappedX = std::log10(model.frequencyForBandIndex(b));

  const QPointF fromMag =
      area_.controller().plotViewCursorMoved(&area_.mag(), {x0 + 0.3 * (x1 - x0), 5.0});
  EXPECT_NEAR(fromMag.x(), snappedX, 1e-6);
  EXPECT_FLOAT_EQ(fromMag.y(), -6.5f);
  EXPECT_EQ(area_.mag().cursorPosition(), fromMag);
  EXPECT_NEAR(area_.phase().cursorPosition().x(), snappedX, 1e-6);
  EXPECT_FLOAT_EQ(area_.phase().cursorPosition().y(), 42.0f);
  ASSERT_EQ(cursorPosts_.size(), 1u);
  EXPECT_EQ(cursorPosts_[0],
            (std::vector<float>{model.frequencyForBandIndex(b), -6.5f, 42.0f, 50.0f}));

  // From the phase view the cursor sits on the phase curve, here of the upper band.
  const QPointF fromPhase =
      area_.controller().plotViewCursorMoved(&area_.phase(), {x0 + 0.8 * (x1 - x0), 0.0});
  EXPECT_FLOAT_EQ(fromPhase.y(), -10.0f);
  EXPECT_FLOAT_EQ(cursorPosts_.back()[3], 100.0f);
  // A blanked band has no value to sit on: the cursor keeps the pointer's height.
  const QPointF blanked(model.logFrequencyForBandIndex(b + 2), 7.0);
  EXPECT_FLOAT_EQ(area_.controller().plotViewCursorMoved(&area_.mag(), blanked).y(), 7.0f);
  EXPECT_TRUE(std::isfinite(area_.phase().cursorPosition().y()));
}

TEST_F(PlotViewControllerTest, TheThreeViewsShareTheirXAxisAndNameTheirUnits) {
  area_.controller().setShowImpulsePlot(true);
  std::vector<QString> units[3];
  int i = 0;
  for (SpectrumPlotView* view : {&area_.mag(), &area_.phase(), &area_.impulse()}) {
    (void)view->renderImage();
    for (const PlotScaleLabel& l : view->scaleLabels())
      if (l.unit) units[i].push_back(l.text);
    ++i;
  }
  // Labels beside the curves, in columns equally wide: one frequency at one x in all three.
  const QRectF mag = area_.mag().chartRect();
  EXPECT_GT(mag.left(), 10.0);
  for (SpectrumPlotView* view : {&area_.phase(), &area_.impulse()}) {
    EXPECT_EQ(view->chartRect().left(), mag.left());
    EXPECT_EQ(view->chartRect().right(), mag.right());
  }
  EXPECT_EQ(units[0], (std::vector<QString>{"Hz", "dB", "dB"}));
  EXPECT_EQ(units[1], (std::vector<QString>{"Hz", "°", "%"}));
  EXPECT_EQ(units[2], (std::vector<QString>{"ms", "%", "%"}));
  // The coherence's 100 % sits where the coherence curve draws it: at 180° on the phase axes.
  bool found = false;
  for (const PlotScaleLabel& l : area_.phase().scaleLabels()) {
    if (l.side != PlotSideRight || l.unit || l.text != "100") continue;
    found = true;
    EXPECT_NEAR(l.rect.center().y(), area_.phase().widgetPointForValue({0.0, 180.0}).y(), 1.0);
  }
  EXPECT_TRUE(found);
}

TEST_F(PlotViewControllerTest, ImpulseShowsInMillisecondsAgainstTheDelayInForceScaledToItsPeak) {
  // The finder's window around an arrival 133 samples late, with an inverted peak.
  session::DelaySnapshot result;
  result.buffer.assign(512, 0.0f);
  result.points = 512;
  result.impulseStart = 133 - 256;
  result.buffer[256] = -0.4f;
  result.buffer[300] = 0.1f;
  const double msPerSample = 1000.0 / 44100.0;
  const auto chart = area_.plots().liveImpChart()->chart();
  plot::ChartSnapshot s;
  area_.controller().setShowImpulsePlot(true);

  area_.plots().showImpulse(result);
  chart->snapshot(s);
  ASSERT_EQ(s.x.count, 512);
  EXPECT_NEAR(s.x.firstX, -123 * msPerSample, 1e-4);
  EXPECT_NEAR(s.x.lastX, (-123 + 511) * msPerSample, 1e-4);
  EXPECT_FLOAT_EQ(s.values[256], -100.0f);  // the peak is -100 %, the rest relative to it
  EXPECT_FLOAT_EQ(s.values[300], 25.0f);
  PlotRange x = area_.impulse().visibleRangeX();
  EXPECT_LT(x.min, 133 * msPerSample);
  EXPECT_GT(x.max, 133 * msPerSample);

  // The delay set by hand to the arrival: the same impulse now peaks at 0 ms.
  ASSERT_TRUE(area_.session().setDelayMs(133 * msPerSample));
  area_.plots().showImpulse(result);
  chart->snapshot(s);
  EXPECT_NEAR(s.x.firstX + 256 * msPerSample, 0.0, 1e-3);

  // An arrival a second away: the view follows it, keeping its width.
  const double width = x.max - x.min;
  result.impulseStart = 44100 - 256;
  area_.plots().showImpulse(result);
  x = area_.impulse().visibleRangeX();
  const double peakMs = 44100 * msPerSample - 133 * msPerSample;
  EXPECT_LT(x.min, peakMs);
  EXPECT_GT(x.max, peakMs);
  EXPECT_NEAR(x.max - x.min, width, 1e-6);
  // A time scale in ms below it.
  (void)area_.impulse().renderImage();
  int timeLabels = 0;
  for (const PlotScaleLabel& l : area_.impulse().scaleLabels())
    if (l.side == PlotSideBottom && !l.unit) ++timeLabels;
  EXPECT_GE(timeLabels, 4);
}

// After a smoothing change the next snapshot's curves are drawn: the read-out and the
// cursor follow them without the pointer moving, also with the display stopped.
TEST_F(PlotViewControllerTest, ReadoutFollowsTheCurvesDrawnAfterASmoothingChange) {
  TransferFunctionModel& model = area_.model();
  const int32_t b = 600;
  guitest::setBand(model, b, {-6.0f, 30.0f, 180.0f});
  area_.session().publishDisplay();
  const QPointF at(model.logFrequencyForBandIndex(b), 0.0);
  area_.controller().plotViewCursorMoved(&area_.mag(), at);
  ASSERT_EQ(cursorPosts_.size(), 1u);

  // Another snapshot with the same smoothing: the read-out stays as the pointer left it.
  area_.plots().updatePlots();
  EXPECT_EQ(cursorPosts_.size(), 1u);

  area_.session().setSmoothing(3);
  session::MeasurementSession::updateQueue()->sync([] {});
  guitest::setBand(model, b, {-2.5f, -20.0f, 90.0f});
  area_.session().publishDisplay();
  area_.plots().updatePlots();
  ASSERT_EQ(cursorPosts_.size(), 2u);
  EXPECT_EQ(cursorPosts_[1],
            (std::vector<float>{model.frequencyForBandIndex(b), -2.5f, -20.0f, 50.0f}));
  EXPECT_FLOAT_EQ(area_.mag().cursorPosition().y(), -2.5f);
  EXPECT_FLOAT_EQ(area_.phase().cursorPosition().y(), -20.0f);
}

}  // namespace
}  // namespace qv::gui
