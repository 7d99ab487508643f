#include "gui/display/QVPlotViewController.h"

#include <QEvent>
#include <cmath>

#include "engine/AnalysisConstants.h"
#include "gui/Theme.h"
#include "platform/NotificationCenter.h"

namespace qv::gui {
namespace {

// Cursor positions outside this band read nothing.
constexpr float kCursorMinHz = 8.0f;
constexpr float kCursorMaxHz = 40000.0f;
// Where the plot area puts its views apart (points).
constexpr double kMagnitudeGap = 4.0;
constexpr double kImpulseGap = 4.0;
constexpr double kMagnitudeShrink = 2.0;

float coherencePercent(float stored) { return stored / kCoherenceScale * 100.0f; }

}  // namespace

QVPlotViewController::PlotFrames QVPlotViewController::framesForBounds(const QRect& bounds,
                                                                       bool showImpulsePlot) {
  const double k = showImpulsePlot ? 0.33 : 0.5;
  const double height = bounds.height();
  // Heights and distances from the bottom edge: phase at the bottom, magnitude above it,
  // the impulse view on top.
  const auto frame = [&](double fromBottom, double h) {
    const double top = bounds.y() + height - fromBottom - h;
    const long y0 = std::lround(top);
    const long y1 = std::lround(top + h);
    return QRect(bounds.x(), static_cast<int>(y0), bounds.width(), static_cast<int>(y1 - y0));
  };
  PlotFrames frames;
  frames.phase = frame(0.0, k * height);
  frames.magnitude = frame(k * height + kMagnitudeGap, k * height - kMagnitudeShrink);
  frames.impulse = frame(2.0 * k * height + kImpulseGap, 0.33 * height - kImpulseGap);
  return frames;
}

QVPlotViewController::QVPlotViewController(std::shared_ptr<session::MeasurementSession> session,
                                           QVPlotController::Options options)
    : session_(std::move(session)), options_(options) {}

QVPlotViewController::~QVPlotViewController() {
  plotController_.reset();
  if (baseView_) baseView_->removeEventFilter(this);
  delete impPlotView_.data();
  delete magPlotView_.data();
  delete phasePlotView_.data();
}

void QVPlotViewController::setBaseView(QWidget* view) {
  if (baseView_) baseView_->removeEventFilter(this);
  baseView_ = view;
  if (!plotController_) setupPlotView();
  if (baseView_) {
    // Impulse first, phase last: the phase view lies on top where frames touch.
    for (SpectrumPlotView* plot :
         {impPlotView_.data(), magPlotView_.data(), phasePlotView_.data()}) {
      plot->setParent(baseView_);
      plot->setVisible(plot != impPlotView_ || showImpulsePlot_);
    }
    baseView_->installEventFilter(this);
  }
  layoutPlots();
}

void QVPlotViewController::setupPlotView() {
  auto* phase = new SpectrumPlotView();
  auto* mag = new SpectrumPlotView();
  auto* impulse = new SpectrumPlotView();
  for (SpectrumPlotView* plot : {phase, mag, impulse}) plot->setGeometry(0, 0, 200, 100);

  impulse->setGridStepY(0.2);
  impulse->setGridStepX(0.1f);

  phase->setScaleSideVisible(PlotSideTop, false);
  mag->setScaleSideVisible(PlotSideBottom, false);
  for (PlotSide side : {PlotSideTop, PlotSideBottom, PlotSideLeft, PlotSideRight})
    impulse->setScaleSideVisible(side, false);
  for (SpectrumPlotView* plot : {phase, mag, impulse}) plot->setScalesOverlaid(true);

  impulse->setRangeMinXMaxXMinYMaxY(-0.05, 1.0, -1.0, 1.0);
  impulse->setVisibleRangeMinXMaxXMinYMaxY(-0.0125, 0.4, -0.25, 0.25);

  for (SpectrumPlotView* plot : {phase, mag, impulse}) {
    plot->setBackgroundColor(theme::kPlotBackground);
    plot->setChartsBackgroundColor(theme::kChartArea);
    plot->setGridColor(theme::kGrid);
  }

  mag->setIndex(0);
  mag->setPlotViewID("mag plot view");
  mag->setTitle("Manitude");
  mag->setDelegate(this);
  phase->setIndex(1);
  phase->setPlotViewID("phase plot view");
  phase->setTitle("Phase");
  phase->setDelegate(this);

  for (SpectrumPlotView* plot : {phase, mag}) {
    plot->setScaleFontSize(theme::kPlotScaleFontSize);
    plot->addCursor();
    plot->setCursorColor(theme::kPlotCursor);
    plot->setCursorThickness(1.0);
  }
  for (SpectrumPlotView* plot : {phase, mag, impulse}) plot->setGridThickness(1.0);

  magPlotView_ = mag;
  phasePlotView_ = phase;
  impPlotView_ = impulse;
  plotController_ = std::make_unique<QVPlotController>(session_, mag, phase, options_);
  plotController_->setImpulsePlotView(impulse);
  plotController_->setupLiveCharts();
}

void QVPlotViewController::layoutPlots() {
  if (!baseView_ || !phasePlotView_) return;
  const PlotFrames frames = framesForBounds(baseView_->rect(), showImpulsePlot_);
  phasePlotView_->setGeometry(frames.phase);
  magPlotView_->setGeometry(frames.magnitude);
  // Placed even while hidden, so that showing it needs no second layout.
  impPlotView_->setGeometry(frames.impulse);
}

void QVPlotViewController::setShowImpulsePlot(bool show) {
  showImpulsePlot_ = show;
  showHideImpulsePlot();
  layoutPlots();
}

void QVPlotViewController::showHideImpulsePlot() {
  if (!impPlotView_) return;
  // Only views inside a base view are ever shown; a parentless one would open a window.
  if (baseView_) impPlotView_->setVisible(showImpulsePlot_);
}

void QVPlotViewController::start() {
  if (plotController_) plotController_->startAnimating();
}

void QVPlotViewController::stop() {
  if (plotController_) plotController_->stopAnimating();
}

std::vector<SpectrumPlotView*> QVPlotViewController::linkedPlotViews() const {
  if (!magPlotView_ || !phasePlotView_) return {};
  return {magPlotView_.data(), phasePlotView_.data()};
}

void QVPlotViewController::linkVisibleRangeFrom(PlotView* view) {
  // A view may report the range we set on it as a pan of its own.
  if (linking_ || !view) return;
  linking_ = true;
  const PlotRange x = view->visibleRangeX();
  for (SpectrumPlotView* other : linkedPlotViews()) {
    if (other == view) continue;
    const PlotRange y = other->visibleRangeY();
    other->setVisibleRangeMinXMaxXMinYMaxY(x.min, x.max, y.min, y.max);
    other->update();
  }
  linking_ = false;
}

void QVPlotViewController::plotViewPanned(PlotView* view) { linkVisibleRangeFrom(view); }

void QVPlotViewController::plotViewZoomedIsHorizontal(PlotView* view, bool /*isHorizontal*/) {
  linkVisibleRangeFrom(view);
}

QPointF QVPlotViewController::plotViewCursorMoved(PlotView* view, QPointF point) {
  if (!plotController_ || !magPlotView_ || !phasePlotView_) return point;
  const float frequency = LinToLogTransformer::hzFromLogFreq(static_cast<float>(point.x()));
  if (!(frequency >= kCursorMinHz && frequency <= kCursorMaxHz)) return point;

  // One snapshot, so the three values come from the same tick.
  const auto snapshot = plotController_->session().latestDisplay();
  const BandPoint magnitude = snapshot->closest(snapshot->magnitude, frequency);
  const BandPoint phase = snapshot->closest(snapshot->phase, frequency);
  const BandPoint coherence = snapshot->closest(snapshot->coherence, frequency);
  const double x = LinToLogTransformer::logFreqFromHz(static_cast<float>(magnitude.x));

  // A blanked band has no value to sit on: the cursor keeps its height there.
  const auto heightFor = [&](SpectrumPlotView* plot, double value) {
    if (std::isfinite(value)) return value;
    return plot == view ? point.y() : plot->cursorPosition().y();
  };
  const QPointF magPoint(x, heightFor(magPlotView_, magnitude.y));
  const QPointF phasePoint(x, heightFor(phasePlotView_, phase.y));
  magPlotView_->setCursorPosition(magPoint);
  phasePlotView_->setCursorPosition(phasePoint);

  NotificationCenter::defaultCenter().post(
      "QVCursorMoved",
      std::vector<float>{static_cast<float>(magnitude.x), static_cast<float>(magnitude.y),
                         static_cast<float>(phase.y),
                         coherencePercent(static_cast<float>(coherence.y))});
  return view == magPlotView_ ? magPoint : phasePoint;
}

QPointF QVPlotViewController::plotViewCursorTrackingStarted(PlotView* /*view*/, QPointF point) {
  return point;
}

QPointF QVPlotViewController::plotViewCursorTrackingFinished(PlotView* /*view*/, QPointF point) {
  return point;
}

bool QVPlotViewController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == baseView_ && event->type() == QEvent::Resize) layoutPlots();
  return QObject::eventFilter(watched, event);
}

}  // namespace qv::gui
