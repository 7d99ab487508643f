#include "gui/display/QVPlotController.h"

#include <QEvent>
#include <QObject>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "gui/Theme.h"
#include "gui/app/AppSettings.h"
#include "gui/display/TraceLegend.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "traces/TraceManager.h"
#include "traces/TraceWorkbench.h"

namespace qv::gui {
namespace {

constexpr uint64_t kRaiseLeewayNs = 1'000'000;
constexpr double kRaiseLiveTracesAfter = 1.0;

// Until the first impulse: a flat line across the whole time axis.
constexpr plot::XValuesSpan kImpulseSpan{static_cast<float>(-QVPlotController::kImpulseFullMs),
                                         static_cast<float>(QVPlotController::kImpulseFullMs), 2};
// Where a re-framed impulse view puts the peak, as a fraction of its width from the left,
// and how far towards either edge the peak may wander before the view follows it.
constexpr double kPeakAt = 0.2;
constexpr double kPeakMargin = 0.08;

// Calls back when the watched widget is shown.
class ShowWatcher : public QObject {
 public:
  ShowWatcher(QObject* watched, std::function<void()> shown)
      : QObject(watched), shown_(std::move(shown)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Show) shown_();
    return false;
  }

 private:
  std::function<void()> shown_;
};

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw) {
  if (!(raw > 0.0)) return 1.0;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * decade >= raw) return m * decade;
  }
  return 10.0 * decade;
}

bool hasChart(const std::weak_ptr<plot::ChartProxy>& proxy) {
  auto p = proxy.lock();
  return p && p->chartPtr();
}

}  // namespace

QStringList QVPlotController::frequencyLabels() {
  static constexpr double kValues[] = {8,    16,   32,   63,   125,   250,  500,
                                       1000, 2000, 4000, 8000, 16000, 32000};
  QStringList labels;
  char text[32];
  for (size_t i = 0; i < std::size(kValues); ++i) {
    if (i < 7) {
      std::snprintf(text, sizeof text, "%2.0f", kValues[i]);
    } else {
      std::snprintf(text, sizeof text, "%2.0fK", kValues[i] / 1000.0);
    }
    labels << QString::fromLatin1(text);
  }
  // The 8 Hz line sits at the very edge of the full range, where a label would be clipped.
  labels[0] = QString();
  return labels;
}

QVPlotController::QVPlotController(std::shared_ptr<session::MeasurementSession> session,
                                   SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView,
                                   Options options)
    : session_(std::move(session)),
      magPlotView_(magPlotView),
      phasePlotView_(phasePlotView),
      traces_(options.traceManager ? *options.traceManager : TraceManager::shared()),
      settings_(options.settings ? *options.settings : AppSettings::set()) {
  QV_ASSERT(session_ != nullptr);
  session_->setDisplayListener([this] { updatePlots(); });
  session_->setRunningListener([this](bool running) { setViewsAnimating(running); });

  traces_.setVisibilityChangedCallback(
      [this](const TraceShot& shot) { shotVisibilityChanged(shot); });
  // Draws the stored visible traces now, so they lie below every live chart made later.
  traces_.start();
  // Names and the list's order reach the legend without a visibility change.
  listObservation_ = traces_.addNotificationBlock(
      [this](const TraceShotResults&, const std::optional<TraceChangeSet>&,
             const std::optional<std::string>&) { updateLegend(); });
}

QVPlotController::~QVPlotController() {
  listObservation_.stop();
  traces_.setVisibilityChangedCallback(nullptr);
  session_->setDisplayListener(nullptr);
  session_->setRunningListener(nullptr);
  stopAnimating();
  raiseTimer_.reset();
  delete impulseWatcher_;
}

void QVPlotController::setImpulsePlotView(SpectrumPlotView* view) {
  delete impulseWatcher_;
  impulsePlotView_ = view;
  if (view) impulseWatcher_ = new ShowWatcher(view, [this] { drawPendingImpulse(); });
}

plot::XValuesSpan QVPlotController::modelSpan() const {
  const LinToLogTransformer& axis = session_->axis();
  return {axis.startFreqLog(), axis.stopFreqLog(), axis.bandCount()};
}

void QVPlotController::setupLiveCharts() {
  SpectrumPlotView* mag = magPlotView_;
  SpectrumPlotView* phase = phasePlotView_;
  SpectrumPlotView* impulse = impulsePlotView_;
  QV_ASSERT(mag && phase);

  const double xMin = LinToLogTransformer::logFreqFromHz(8.0f);
  const double xVisibleMin = LinToLogTransformer::logFreqFromHz(14.0f);
  const double xMax = LinToLogTransformer::logFreqFromHz(22000.0f);

  // About one octave per line on the decade axis.
  mag->setGridStepX(0.3f);
  mag->setGridStepY(6.0);
  phase->setGridStepY(45.0);
  phase->setGridStepX(mag->gridStepX());

  mag->setRangeMinXMaxXMinYMaxY(xMin, xMax, -60.0, 60.0);
  phase->setRangeMinXMaxXMinYMaxY(xMin, xMax, -225.0, 225.0);
  mag->setVisibleRangeMinXMaxXMinYMaxY(xVisibleMin, xMax, -28.0, 22.0);
  phase->setVisibleRangeMinXMaxXMinYMaxY(xVisibleMin, xMax, -180.0, 180.0);

  const QStringList labels = frequencyLabels();
  mag->setLabelsForSide(labels, PlotSideBottom);
  mag->setLabelsForSide(labels, PlotSideTop);
  phase->setLabelsForSide(labels, PlotSideBottom);
  phase->setLabelsForSide(labels, PlotSideTop);

  const QColor border = theme::kChartBorder;
  mag->setChartsBorderColor(border);
  phase->setChartsBorderColor(border);
  if (impulse) impulse->setChartsBorderColor(border);

  const float thickness = settings_.liveTraceThickness();
  const plot::XValuesSpan span = modelSpan();

  auto magChart = mag->createLineChartWithName("mag", span, thickness, theme::kLiveCurve);
  auto cohChart = phase->createLineChartWithName("coh", span, thickness, theme::kLiveCoherence);
  auto phaseChart = phase->createPhaseLineChartWithName("phs", span, thickness, theme::kLiveCurve);
  std::shared_ptr<plot::ChartProxy> impChart;
  if (impulse)
    impChart =
        impulse->createLineChartWithName("imp", kImpulseSpan, thickness, theme::kLiveImpulse);
  const plot::XValuesSpan zeroSpan{span.firstX, span.lastX, 2};
  mag->createLineChartWithName("zero magnitude", zeroSpan, theme::kZeroLineThickness,
                               theme::kZeroLine);
  phase->createLineChartWithName("zero phase", zeroSpan, theme::kZeroLineThickness,
                                 theme::kZeroLine);

  liveMagChart_ = magChart;
  liveCohChart_ = cohChart;
  livePhaseChart_ = phaseChart;
  liveImpChart_ = impChart;
  legend_ = new TraceLegend(mag);
  updateLegend();
}

void QVPlotController::startAnimating() {
  if (!hasChart(liveMagChart_) || !hasChart(liveCohChart_) || !hasChart(livePhaseChart_)) return;
  session_->startDisplay();  // which makes the views animate
}

void QVPlotController::stopAnimating() {
  session_->stopDisplay();
  setViewsAnimating(false);
}

void QVPlotController::setViewsAnimating(bool animating) {
  if (magPlotView_) magPlotView_->setIsAnimating(animating);
  if (phasePlotView_) phasePlotView_->setIsAnimating(animating);
}

void QVPlotController::updatePlots() {
  const auto snapshot = session_->latestDisplay();
  // The charts copy the values under their own lock.
  const auto put = [](const std::weak_ptr<plot::ChartProxy>& proxy, const std::vector<float>& v) {
    if (const auto p = proxy.lock()) {
      if (const auto chart = p->chart()) chart->setData(v.data(), static_cast<int32_t>(v.size()));
    }
  };
  // Relative to a trace while comparing (as the snapshot says: the first ones after a
  // change may still be made the other way).
  const bool relative = snapshot->relativeShown;
  put(liveMagChart_, relative ? snapshot->relative.magnitude : snapshot->magnitude);
  put(livePhaseChart_, relative ? snapshot->relative.phase : snapshot->phase);
  put(liveCohChart_, relative ? snapshot->relative.coherence : snapshot->coherence);
  if (magPlotView_) magPlotView_->update(false);
  if (phasePlotView_) phasePlotView_->update(false);
  if (plotsUpdated_) plotsUpdated_();
}

void QVPlotController::showImpulse(const session::DelaySnapshot& result) {
  const auto chart = liveImpChart();
  if (!chart || !chart->chartPtr() || !impulsePlotView_) return;
  const double rate = session_->sampleRate();
  const int32_t points = std::min(result.points, static_cast<int32_t>(result.buffer.size()));
  if (points <= 0 || !(rate > 0.0)) return;
  // Time against the delay in force: a compensated arrival sits at 0 ms, with the delay set
  // by hand the peak shows how far off it is.
  const double msPerSample = 1000.0 / rate;
  const double firstMs = static_cast<double>(result.impulseStart) * msPerSample - delay();
  if (impulsePlotView_->isHidden()) {
    // Nobody sees it (the finder runs for the automatic delay): the window is kept as it
    // came and drawn once the view shows.
    pendingImpulse_.assign(result.buffer.begin(), result.buffer.begin() + points);
    pendingFirstMs_ = firstMs;
    pendingMsPerSample_ = msPerSample;
    return;
  }
  pendingImpulse_.clear();
  drawImpulse(result.buffer.data(), points, firstMs, msPerSample);
}

void QVPlotController::drawPendingImpulse() {
  if (pendingImpulse_.empty()) return;
  drawImpulse(pendingImpulse_.data(), static_cast<int32_t>(pendingImpulse_.size()), pendingFirstMs_,
              pendingMsPerSample_);
  pendingImpulse_.clear();  // keeps its capacity
}

void QVPlotController::drawImpulse(const float* window, int32_t points, double firstMs,
                                   double msPerSample) {
  const auto chart = liveImpChart();
  if (!chart || !chart->chartPtr() || !impulsePlotView_) return;
  // Relative amplitude: the strongest point of the window is ±100 %.
  float peak = 0.0f;
  int32_t peakAt = 0;
  for (int32_t i = 0; i < points; ++i) {
    const float a = std::fabs(window[i]);
    if (a > peak) {
      peak = a;
      peakAt = i;
    }
  }
  const float scale = peak > 0.0f ? 100.0f / peak : 0.0f;
  impulse_.resize(static_cast<size_t>(points));  // the capacity stays from the first result
  for (int32_t i = 0; i < points; ++i) impulse_[static_cast<size_t>(i)] = window[i] * scale;
  const double lastMs = firstMs + (points - 1) * msPerSample;
  chart->chartPtr()->setXValues(points, static_cast<float>(firstMs), static_cast<float>(lastMs));
  impulsePlotView_->setDataOfLengthForChart(impulse_.data(), points, chart->chartPtr());
  if (peak > 0.0f) frameImpulse(firstMs + peakAt * msPerSample);
  if (!impulsePlotView_->isHidden()) impulsePlotView_->update(false);
}

void QVPlotController::frameImpulse(double peakMs) {
  SpectrumPlotView* view = impulsePlotView_;
  const PlotRange x = view->visibleRangeX();
  const double width = x.max - x.min;
  if (!(width > 0.0)) return;
  // The view follows the peak only when it nears an edge, so a zoom or pan of the user's
  // stays as long as the peak is in sight.
  if (peakMs >= x.min + kPeakMargin * width && peakMs <= x.max - kPeakMargin * width) return;
  const PlotRange y = view->visibleRangeY();
  const double from = peakMs - kPeakAt * width;
  view->setVisibleRangeMinXMaxXMinYMaxY(from, from + width, y.min, y.max);
}

void QVPlotController::setupImpulseAxes() {
  SpectrumPlotView* view = impulsePlotView_;
  if (!view) return;
  view->setRangeMinXMaxXMinYMaxY(-kImpulseFullMs, kImpulseFullMs, -kImpulseFullPercent,
                                 kImpulseFullPercent);
  view->setVisibleRangeMinXMaxXMinYMaxY(-kPeakAt * kImpulseVisibleMs,
                                        (1.0 - kPeakAt) * kImpulseVisibleMs,
                                        -kImpulseVisiblePercent, kImpulseVisiblePercent);
  view->setGridStepX(niceStep(kImpulseVisibleMs / 10.0));
  view->setGridStepY(50.0);
  view->setXValueLabels(true);
}

void QVPlotController::setDelay(double delayMs) { session_->setDelayMs(delayMs); }

double QVPlotController::delay() const { return session_->delayMs(); }

void QVPlotController::setSmoothing(int64_t smoothing) { session_->setSmoothing(smoothing); }

int64_t QVPlotController::smoothing() const { return session_->smoothing(); }

void QVPlotController::shotLiveTrace(CaptureCompletion completion) {
  // The newest snapshot, whose three curves belong to one tick; the main thread copies it
  // and never waits for a tick.
  std::vector<float> buffer;
  int64_t length = 0;
  TraceUserInfo userInfo;
  {
    const auto snapshot = session_->latestDisplay();
    length = snapshot->bandCount();
    buffer.reserve(3 * static_cast<size_t>(length));
    for (const auto* curve : {&snapshot->magnitude, &snapshot->phase, &snapshot->coherence})
      buffer.insert(buffer.end(), curve->begin(), curve->end());
    if (snapshot->calibration)
      userInfo[TraceManager::kUserInfoCalibration] = snapshot->calibration->name();
  }

  char comment[160];
  std::snprintf(comment, sizeof comment, "Smoothing: 1/%ld oct, averaging: %f, delay: %2.2f ms",
                static_cast<long>(session_->smoothing()),
                static_cast<double>(session_->averagingIndex()), session_->delayMs());
  traces_.newTraceWithNameFloatBufferLengthCountCommentUserInfo(
      "TF", buffer.data(), length, 3, comment, userInfo, std::move(completion));

  // The new trace went on top of the live curves; a moment later they come back above it.
  raiseTimer_ = GCDTimer::timerOnMainQueue(kRaiseLeewayNs, "qvx.live.traces.to.front");
  raiseTimer_->scheduleBlock([this] { liveTracesToFront(); }, kRaiseLiveTracesAfter);
}

void QVPlotController::liveTracesToFront() {
  for (const auto* proxy : {&liveMagChart_, &liveCohChart_, &livePhaseChart_}) {
    if (auto p = proxy->lock()) p->moveToTop();
  }
  for (SpectrumPlotView* view : {magPlotView_.data(), phasePlotView_.data()}) {
    if (!view) continue;
    view->setNeedsDisplay(true);
    view->update();
  }
}

void QVPlotController::shotVisibilityChanged(const TraceShot& shot) {
  if (reference_ && shot.id == reference_->id && shot.id != 0) {
    // The reference itself changed (its offsets): everything is drawn against it anew.
    setCompareReference(std::make_shared<const TraceShot>(shot));
    return;
  }
  if (shot.visible) {
    showTraceForShot(shot);
  } else {
    hideTraceForShot(shot);
  }
  updateLegend();
}

void QVPlotController::showTraceForShot(const TraceShot& shot) {
  // As drawn: offsets applied, and relative to the reference while comparing.
  const auto curves = reference_ ? TraceWorkbench::difference(shot, *reference_)
                                 : TraceWorkbench::displayedCurvesOf(shot);
  if (!curves || curves->size() == 0 || !shot.uuid) {
    log("Error reading trace data");
    return;
  }

  plot::Color color = theme::kLiveCurve;
  if (const auto c = traces_.colorForShot(shot)) {
    color = {c->red, c->green, c->blue, c->alpha};
  } else if (!traces_.palette().colors().empty()) {
    const RGBAColor& first = traces_.palette().colors().front();
    color = {first.red, first.green, first.blue, first.alpha};
  }
  const float thickness = traceThickness();
  const plot::XValuesSpan span = modelSpan();
  const std::string& uuid = *shot.uuid;

  const auto draw = [&](SpectrumPlotView* view, const std::vector<float>& values, bool phaseLine) {
    if (!view) return;
    // Shown again (every trace is reported when all are shown): its old curves go first.
    view->deleteChartsWithID(uuid);
    // The view's own charts, not proxied ones: traces are found again by their ID.
    auto chart = phaseLine ? view->addPhaseLineChartWithName(uuid, span, thickness, color)
                           : view->addLineChartWithName(uuid, span, thickness, color);
    if (!chart) return;
    chart->setXValues(span.count, span.firstX, span.lastX);
    view->setDataOfLengthForChart(values.data(), static_cast<int32_t>(values.size()), chart.get());
    view->update();
  };
  draw(magPlotView_, curves->magnitude, false);
  draw(phasePlotView_, curves->phase, true);
}

void QVPlotController::hideTraceForShot(const TraceShot& shot) {
  if (!shot.uuid) return;
  for (SpectrumPlotView* view : {magPlotView_.data(), phasePlotView_.data()}) {
    if (!view) continue;
    view->deleteChartsWithID(*shot.uuid);
    view->update();
  }
}

}  // namespace qv::gui
