// The measurement view's delay: the automatic delay finder's switch and results (the
// session accepts them), and the manual delay with its stepper and field.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "delay/QVDelayFinder.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "platform/Log.h"

namespace qv::gui {

// ---- automatic delay ----

void QVMainViewController::startAutoDelay() {
  // The finder needs the recorder's format; without a recorder it does not run.
  AppSettings::set().setAutoDelayOn(session_->startDelayFinder());
}

void QVMainViewController::stopAutoDelay() {
  session_->releaseDelayFinder();
  session_->setAutoInsertDelay(false);
  AppSettings::set().setAutoDelayOn(false);
}

void QVMainViewController::onAutoDelay() {
  const bool wasOn = session_->autoInsertDelay();
  session_->setAutoInsertDelay(!wasOn);
  if (wasOn) {
    stopAutoDelay();
  } else if (started_) {
    startAutoDelay();
  } else {
    AppSettings::set().setAutoDelayOn(true);
  }
  updateManualDelayControlsAvailability();
}

void QVMainViewController::delayFinderResult(const session::DelaySnapshot& result, bool accepted) {
  // The session applied the delay it accepted; the setting and the read-outs follow.
  delayCoherence_ = result.coherence;
  if (accepted) AppSettings::set().setDelayValueMS(session_->delayMs());
  updateDelayReadings();
  auto* plots = plotController();
  if (!plots->liveImpChart()) {
    qv::log("No Impulse TRACE!!!");
    return;
  }
  plots->showImpulse(result);
}

// ---- manual delay ----

void QVMainViewController::setDelayMS(float value) {
  if (!session_->setDelayMs(value)) return;  // no number: the session said so
  updateDelayReadings();
  AppSettings::set().setDelayValueMS(session_->delayMs());
}

float QVMainViewController::delayMS() const { return session_->delayMs(); }

void QVMainViewController::onDelayStepper(float value) {
  if (session_->delayFinder() && session_->delayFinder()->isRunning()) stopAutoDelay();
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
