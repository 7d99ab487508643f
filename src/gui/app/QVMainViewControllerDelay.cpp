// The measurement view's delay: the automatic delay finder with the acceptance of its
// results, and the manual delay with its stepper and field.
// The audio library's headers come before any Qt header: they declare a method named
// `emit`, which Qt defines as a macro.
// clang-format off
#include "audio/QVRecorder.h"
#include "delay/QVDelayFinder.h"
// clang-format on
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "gui/app/QVDelayStepper.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"

namespace qv::gui {

// ---- automatic delay ----

void QVMainViewController::startAutoDelay() {
  if (!delayFinderController_) delayFinderController_ = std::make_shared<QVDelayFinder>(0, 0);
  if (recorder_) {
    // Adding announces the format, which the finder needs before it can start.
    recorder_->addConsumer(delayFinderController_);
    QPointer<QVMainViewController> self(this);
    delayFinderController_->startWithResultBlockErrorBlock(
        [self](const float* impulse, int32_t count, float delay, float coherence) {
          if (self) self->delayFinderResult(impulse, count, delay, coherence);
        },
        [self](const QVDelayFinder::Error& error) {
          if (self) self->autoInsertDelay_ = false;
          qv::log("Could not start AutoDelay: error is : Error Domain=%s Code=%lld \"%s\"",
                  error.domain.c_str(), static_cast<long long>(error.code),
                  error.localizedDescription.c_str());
        });
  }
  AppSettings::set().setAutoDelayOn(delayFinderController_->isRunning());
}

void QVMainViewController::stopAutoDelay() {
  if (delayFinderController_) {
    delayFinderController_->stop();
    if (recorder_) recorder_->removeConsumer(delayFinderController_);
    delayFinderController_.reset();
  }
  autoInsertDelay_ = false;
  AppSettings::set().setAutoDelayOn(false);
}

void QVMainViewController::onAutoDelay() {
  const bool wasOn = autoInsertDelay_;
  autoInsertDelay_ = !wasOn;
  if (wasOn) {
    stopAutoDelay();
  } else if (started_) {
    startAutoDelay();
  } else {
    AppSettings::set().setAutoDelayOn(true);
  }
  updateManualDelayControlsAvailability();
}

void QVMainViewController::delayFinderResult(const float* impulse, int32_t count, float delay,
                                             float coherence) {
  if (!plotController()->liveImpChart()) {
    qv::log("No Impulse TRACE!!!");
    return;
  }
  bool post = false;
  {
    // The impulse belongs to the finder and changes with its next result: copy it now.
    std::lock_guard<std::mutex> lock(pendingMutex_);
    const auto n = static_cast<size_t>(std::max<int32_t>(count, 0));
    pending_.impulse.assign(impulse, impulse + (impulse ? n : 0));
    pending_.count = static_cast<int32_t>(pending_.impulse.size());
    pending_.delay = delay;
    pending_.coherence = coherence;
    post = !pending_.posted;
    pending_.posted = true;
  }
  if (!post) return;  // the block already waiting will take this newer result
  QPointer<QVMainViewController> self(this);
  dispatch::mainQueue().async([self] {
    if (self) self->finishDelayFinderResult();
  });
}

void QVMainViewController::finishDelayFinderResult() {
  int32_t count;
  float delay;
  float coherence;
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    // Swapping keeps both buffers' storage, so steady results allocate nothing.
    std::swap(pending_.impulse, impulseOnMain_);
    count = pending_.count;
    delay = pending_.delay;
    coherence = pending_.coherence;
    pending_.posted = false;
  }
  auto* plots = plotController();
  auto chart = plots->liveImpChart();
  if (chart && chart->chartPtr())
    plots->impulsePlotView()->setDataOfLengthForChart(impulseOnMain_.data(), count,
                                                      chart->chartPtr());
  delayCoherence_ = coherence;
  if (autoInsertDelay_ && coherence > 0.1f && std::fabs(delay) <= 3.0f) {
    // Milliseconds, rounded up to the next hundredth.
    setDelayMS(static_cast<float>(std::ceil(static_cast<double>(delay) * 100000.0) / 100.0));
  } else {
    updateDelayReadings();
  }
  chart = plots->liveImpChart();
  if (chart && chart->chartPtr() && !plotViewController_->impPlotView()->isHidden())
    plots->impulsePlotView()->update(false);
}

// ---- manual delay ----

void QVMainViewController::setDelayMS(float value) {
  if (!std::isfinite(value)) {
    qv::log("Delay %f ms ignored", static_cast<double>(value));
    return;
  }
  if (std::fabs(static_cast<double>(value)) < 0.009) value = 0.0f;
  plotController()->setDelay(value);
  updateDelayReadings();
  AppSettings::set().setDelayValueMS(value);
}

float QVMainViewController::delayMS() const { return plotController()->delay(); }

void QVMainViewController::onDelayStepper(float value) {
  if (delayFinderController_ && delayFinderController_->isRunning()) stopAutoDelay();
  setDelayMS(value);
}

void QVMainViewController::updateDelayReadings() {
  const float delay = delayMS();
  ui_.topLabel->setText(QString::asprintf("Dly: %2.2f ms, Coh: %2.1f", static_cast<double>(delay),
                                          static_cast<double>(delayCoherence_)));
  ui_.delayStepper->setValue(delay);
  // Never overwrite what the user is typing.
  if (!(ui_.delayTextField->hasFocus() && ui_.delayTextField->isModified()))
    ui_.delayTextField->setText(QString::asprintf("%.2f", static_cast<double>(delay)));
}

void QVMainViewController::updateManualDelayControlsAvailability() {
  const bool on = AppSettings::set().autoDelayOn();
  ui_.delayTextField->setEnabled(!on);
  ui_.autoDelayButton->setChecked(on);
}

}  // namespace qv::gui
