#include "gui/display/QVPlotViewController.h"

#include <QEvent>
#include <algorithm>
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

  phase->setScaleSideVisible(PlotSideTop, false);
  mag->setScaleSideVisible(PlotSideBottom, false);
  // The impulse view has a time scale below and its amplitude on both sides.
  impulse->setScaleSideVisible(PlotSideTop, false);
  for (SpectrumPlotView* plot : {phase, mag, impulse}) plot->setScalesOverlaid(true);

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

  impulse->setScaleFontSize(theme::kPlotScaleFontSize);
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
  plotController_->setPlotsUpdatedListener([this] { refreshCursorReadout(); });
  plotController_->setupImpulseAxes();
  plotController_->setupLiveCharts();
  setupScales();
}

void QVPlotViewController::setupScales() {
  SpectrumPlotView* mag = magPlotView_;
  SpectrumPlotView* phase = phasePlotView_;
  SpectrumPlotView* impulse = impPlotView_;
  mag->setScaleUnit(PlotSideTop, QStringLiteral("Hz"));
  phase->setScaleUnit(PlotSideBottom, QStringLiteral("Hz"));
  mag->setScaleUnit(PlotSideLeft, QStringLiteral("dB"));
  mag->setScaleUnit(PlotSideRight, QStringLiteral("dB"));
  phase->setScaleUnit(PlotSideLeft, QStringLiteral("°"));
  // The coherence curve is drawn on the phase axes, 0 % to 100 % over 0° to 180°: the
  // right-hand scale reads it there.
  phase->setScaleUnit(PlotSideRight, QStringLiteral("%"));
  phase->setRightScale(100.0 / kCoherenceScale, 0.0, kCoherenceScale);
  impulse->setScaleUnit(PlotSideBottom, QStringLiteral("ms"));
  impulse->setScaleUnit(PlotSideLeft, QStringLiteral("%"));
  impulse->setScaleUnit(PlotSideRight, QStringLiteral("%"));
  // One column width for all three views, so that their x axes line up.
  double column = 0.0;
  for (SpectrumPlotView* plot : {mag, phase, impulse}) {
    plot->setScaleLabelColumnWidth(1.0);  // labels in columns while measuring what they need
    column = std::max(column, plot->scaleLabelColumnWidthNeeded());
  }
  for (SpectrumPlotView* plot : {mag, phase, impulse}) plot->setScaleLabelColumnWidth(column);
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
  cursorHz_ = frequency;
  const auto [magPoint, phasePoint] = showCursorAt(frequency, view, point.y());
  return view == magPlotView_ ? magPoint : phasePoint;
}

std::pair<QPointF, QPointF> QVPlotViewController::showCursorAt(float frequency, PlotView* view,
                                                               double height) {
  // One snapshot, so the three values come from the same tick, and the curves as drawn
  // (relative to a trace while comparing).
  const auto snapshot = plotController_->session().latestDisplay();
  const bool relative = snapshot->relativeShown;
  const auto& magCurve = relative ? snapshot->relative.magnitude : snapshot->magnitude;
  const auto& phaseCurve = relative ? snapshot->relative.phase : snapshot->phase;
  const auto& cohCurve = relative ? snapshot->relative.coherence : snapshot->coherence;
  const BandPoint magnitude = snapshot->closest(magCurve, frequency);
  const BandPoint phase = snapshot->closest(phaseCurve, frequency);
  const BandPoint coherence = snapshot->closest(cohCurve, frequency);
  readoutSmoothing_ = snapshot->smoothing;
  readoutRelative_ = relative;
  const double x = LinToLogTransformer::logFreqFromHz(static_cast<float>(magnitude.x));

  // A blanked band has no value to sit on: the cursor keeps its height there.
  const auto heightFor = [&](SpectrumPlotView* plot, double value) {
    if (std::isfinite(value)) return value;
    return plot == view ? height : plot->cursorPosition().y();
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
  return {magPoint, phasePoint};
}

void QVPlotViewController::refreshCursorReadout() {
  if (!cursorHz_ || !plotController_ || !magPlotView_ || !phasePlotView_) return;
  // Curves made another way (smoothing, comparing) than those the read-out was taken from:
  // the cursor reads them again where it stands.
  const auto snapshot = plotController_->session().latestDisplay();
  if (snapshot->smoothing == readoutSmoothing_ && snapshot->relativeShown == readoutRelative_)
    return;
  showCursorAt(*cursorHz_, nullptr, 0.0);
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
