#include "gui/display/QVPlotController.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "gui/Theme.h"
#include "gui/app/AppSettings.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "traces/TraceManager.h"

namespace qv::gui {
namespace {

constexpr int32_t kOctResolution = 96;
constexpr int64_t kInitialSmoothing = 12;
constexpr uint64_t kTimerLeewayNs = 1'000'000;
constexpr double kRaiseLiveTracesAfter = 1.0;

constexpr plot::XValuesSpan kImpulseSpan{0.0f, 1.0f, 16384};

// The controllers that exist now, with their serial numbers. Main thread only.
std::vector<std::pair<const QVPlotController*, uint64_t>>& liveControllers() {
  static std::vector<std::pair<const QVPlotController*, uint64_t>> list;
  return list;
}
uint64_t gNextSerial = 1;

bool isLive(const QVPlotController* controller, uint64_t serial) {
  const auto& list = liveControllers();
  return std::find(list.begin(), list.end(), std::make_pair(controller, serial)) != list.end();
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

QVPlotController::QVPlotController(SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView,
                                   QVTFPlotControllerDataSource* dataSource, Options options)
    : dataSource_(dataSource),
      magPlotView_(magPlotView),
      phasePlotView_(phasePlotView),
      traces_(options.traceManager ? *options.traceManager : TraceManager::shared()),
      settings_(options.settings ? *options.settings : AppSettings::set()),
      clock_(options.clock ? std::move(options.clock) : Clock::system()),
      serial_(gNextSerial++) {
  const unsigned processors = options.processorCount
                                  ? options.processorCount
                                  : std::max(1u, std::thread::hardware_concurrency());
  updateInterval_ = processors > 2 ? 1.0 / 30.0 : 1.0 / 15.0;

  const uint64_t avgIndex = dataSource_->avgIndex();
  const uint64_t sampleRate = dataSource_->sampleRate();
  const uint64_t fftSize = dataSource_->fftSize();
  tfModel_ = std::make_shared<TransferFunctionModel>(fftSize, sampleRate, kOctResolution,
                                                     kInitialSmoothing, clock_);
  tfModel_->tfDataSource()->setChannelsSwapped(true);
  tfModel_->setDelayLeftAndRight(0.0f, 0.0f);
  tfModel_->setAveragingIndex(static_cast<float>(avgIndex));
  liveControllers().emplace_back(this, serial_);

  traces_.setVisibilityChangedCallback(
      [this](const TraceShot& shot) { shotVisibilityChanged(shot); });
  // Draws the stored visible traces now, so they lie below every live chart made later.
  traces_.start();
}

QVPlotController::~QVPlotController() {
  traces_.setVisibilityChangedCallback(nullptr);
  stopAnimating();
  raiseTimer_.reset();
  // A tick or smoothing change already running (or queued) finishes before the model goes.
  updateQueue()->sync([] {});
  auto& list = liveControllers();
  list.erase(std::remove(list.begin(), list.end(),
                         std::make_pair(static_cast<const QVPlotController*>(this), serial_)),
             list.end());
}

std::shared_ptr<dispatch::Queue> QVPlotController::updateQueue() {
  // Serial, so that a smoothing change never runs while a tick transforms the model.
  static const std::shared_ptr<dispatch::Queue> queue =
      dispatch::makeSerialQueue("qvx.update.timer.queue");
  return queue;
}

void QVPlotController::setImpulsePlotView(SpectrumPlotView* view) { impulsePlotView_ = view; }

plot::XValuesSpan QVPlotController::modelSpan() const {
  return {tfModel_->startFreqLog(), tfModel_->stopFreqLog(), tfModel_->bandCount()};
}

void QVPlotController::setupLiveCharts() {
  SpectrumPlotView* mag = magPlotView_;
  SpectrumPlotView* phase = phasePlotView_;
  SpectrumPlotView* impulse = impulsePlotView_;
  QV_ASSERT(mag && phase);

  const double xMin = TransferFunctionModel::logFreqFromHz(8.0f);
  const double xVisibleMin = TransferFunctionModel::logFreqFromHz(14.0f);
  const double xMax = TransferFunctionModel::logFreqFromHz(22000.0f);

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
  // No timer exists yet, so the ticks that read these later see them complete.
  tickMagChart_ = magChart ? magChart->chart() : nullptr;
  tickCohChart_ = cohChart ? cohChart->chart() : nullptr;
  tickPhaseChart_ = phaseChart ? phaseChart->chart() : nullptr;
}

void QVPlotController::startAnimating() {
  lastTick_.store(clock_->now());
  // The old timer is invalidated as it goes; a fire of it still queued does nothing.
  updateTimer_ = GCDTimer::timerOnQueue(updateQueue(), kTimerLeewayNs, "qvx.update.timer");
  if (!hasChart(liveMagChart_) || !hasChart(liveCohChart_) || !hasChart(livePhaseChart_)) return;
  // Ticks reach the controller only through the timer it owns; the destructor invalidates
  // the timer and waits for a running tick, so a tick never outlives the controller.
  updateTimer_->scheduleBlock([this] { tick(); }, updateInterval_, true);
  if (magPlotView_) magPlotView_->setIsAnimating(true);
  if (phasePlotView_) phasePlotView_->setIsAnimating(true);
  tfModel_->resetAverages();
}

void QVPlotController::stopAnimating() {
  if (updateTimer_) updateTimer_->invalidate();
  if (magPlotView_) magPlotView_->setIsAnimating(false);
  if (phasePlotView_) phasePlotView_->setIsAnimating(false);
}

void QVPlotController::tick() {
  const double now = clock_->now();
  const double seconds = now - lastTick_.exchange(now);
  updateData(seconds);
  tickCount_.fetch_add(1, std::memory_order_relaxed);
  // Two plain words fit the block's own storage: the request allocates nothing here.
  dispatch::mainQueue().async([controller = this, serial = serial_] {
    if (isLive(controller, serial)) controller->updatePlots();
  });
}

void QVPlotController::updateData(double seconds) {
  tfModel_->transform(seconds);
  // The charts copy the model's arrays under their own lock; nothing is copied here.
  if (tickMagChart_) {
    const auto curve = tfModel_->mpolyline();
    tickMagChart_->setData(curve->values(), static_cast<int32_t>(curve->count()));
  }
  if (tickPhaseChart_) {
    const auto curve = tfModel_->ppolyline();
    tickPhaseChart_->setData(curve->values(), static_cast<int32_t>(curve->count()));
  }
  if (tickCohChart_) {
    const auto curve = tfModel_->cpolyline();
    tickCohChart_->setData(curve->values(), static_cast<int32_t>(curve->count()));
  }
}

void QVPlotController::updatePlots() {
  if (magPlotView_) magPlotView_->update(false);
  if (phasePlotView_) phasePlotView_->update(false);
}

void QVPlotController::setDelay(float delayMs) {
  delay_ = delayMs;
  tfModel_->setDelayLeftAndRight(delayMs < 0 ? -delayMs : 0.0f, delayMs > 0 ? delayMs : 0.0f);
}

void QVPlotController::setSmoothing(int64_t smoothing) {
  auto model = tfModel_;
  updateQueue()->async([model, smoothing] { model->setSmoothing(smoothing); });
}

int64_t QVPlotController::smoothing() const {
  int64_t smoothing = 0;
  updateQueue()->sync([&] { smoothing = tfModel_->smoothing(); });
  return smoothing;
}

void QVPlotController::shotLiveTrace() {
  // Copied on the update queue, between ticks, so the three curves belong to one tick.
  std::vector<float> buffer;
  int64_t length = 0;
  int64_t smoothing = 0;
  updateQueue()->sync([&] {
    const auto mag = tfModel_->mpolyline();
    const auto phase = tfModel_->ppolyline();
    const auto coh = tfModel_->cpolyline();
    length = static_cast<int64_t>(mag->count());
    buffer.resize(3 * static_cast<size_t>(length));
    std::copy_n(mag->values(), length, buffer.begin());
    std::copy_n(phase->values(), length, buffer.begin() + length);
    std::copy_n(coh->values(), length, buffer.begin() + 2 * length);
    smoothing = tfModel_->smoothing();
  });

  char comment[160];
  std::snprintf(comment, sizeof comment, "Smoothing: 1/%ld oct, averaging: %f, delay: %2.2f ms",
                static_cast<long>(smoothing), static_cast<double>(tfModel_->averagingIndex()),
                static_cast<double>(delay_));
  traces_.newTraceWithNameFloatBufferLengthCountCommentUserInfo("TF", buffer.data(), length, 3,
                                                                comment, {});

  // The new trace went on top of the live curves; a moment later they come back above it.
  raiseTimer_ = GCDTimer::timerOnMainQueue(kTimerLeewayNs, "qvx.live.traces.to.front");
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
  if (shot.visible) {
    showTraceForShot(shot);
  } else {
    hideTraceForShot(shot);
  }
}

void QVPlotController::showTraceForShot(const TraceShot& shot) {
  const auto& mag = shot.magnitudeData;
  const auto& phase = shot.phaseData;
  const auto& coh = shot.coherenceData;
  const size_t length = mag ? mag->size() : 0;
  if (!mag || !phase || !coh || length == 0 || phase->size() != length || coh->size() != length ||
      !shot.uuid) {
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
  const float thickness = settings_.capturedTraceThickness();
  const plot::XValuesSpan span = modelSpan();
  const std::string& uuid = *shot.uuid;

  const auto draw = [&](SpectrumPlotView* view, const Bytes& blob, bool phaseLine) {
    if (!view) return;
    // Shown again (every trace is reported when all are shown): its old curves go first.
    view->deleteChartsWithID(uuid);
    // The view's own charts, not proxied ones: traces are found again by their ID.
    auto chart = phaseLine ? view->addPhaseLineChartWithName(uuid, span, thickness, color)
                           : view->addLineChartWithName(uuid, span, thickness, color);
    if (!chart) return;
    chart->setXValues(span.count, span.firstX, span.lastX);
    const std::vector<float> values = TraceShot::floatsFromBlob(blob);
    view->setDataOfLengthForChart(values.data(), static_cast<int32_t>(values.size()), chart.get());
    view->update();
  };
  draw(magPlotView_, *mag, false);
  draw(phasePlotView_, *phase, true);
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
