// The measurement view's delay: the automatic delay finder's switch, tracking and band, its
// results (the session accepts them) with their read-outs, and the manual delay with its
// stepper and field.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointF>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <cmath>

#include "delay/DelayLocator.h"
#include "gui/app/DelayControls.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

constexpr int kRefusalShownMs = 2500;

}  // namespace

// ---- automatic delay ----

void QVMainViewController::startAutoDelay() {
  // The finder needs the recorder's format; without a recorder it does not run.
  session_->setAutoInsertDelay(true);
  AppSettings::set().setAutoDelayOn(session_->startDelayFinder());
}

void QVMainViewController::stopAutoDelay() {
  session_->releaseDelayFinder();
  session_->setAutoInsertDelay(false);
  AppSettings::set().setAutoDelayOn(false);
  updateImpulseFinder();
}

void QVMainViewController::updateImpulseFinder() {
  if (session_->autoInsertDelay()) return;  // the automatic delay owns the finder
  if (started_ && plotViewController_->showImpulsePlot()) {
    session_->startDelayFinder();
  } else if (session_->delayFinderRunning()) {
    session_->releaseDelayFinder();
  }
}

void QVMainViewController::onAutoDelay() {
  if (session_->autoInsertDelay()) {
    stopAutoDelay();
  } else if (started_) {
    startAutoDelay();
  } else {
    // Armed: the next start starts the finder.
    session_->setAutoInsertDelay(true);
    AppSettings::set().setAutoDelayOn(true);
  }
  updateManualDelayControlsAvailability();
}

void QVMainViewController::autoDelaySettingChanged() {
  // The setting may change elsewhere (the preferences): what runs follows what is shown.
  const bool on = AppSettings::set().autoDelayOn();
  if (on != session_->autoInsertDelay()) {
    if (!on) {
      stopAutoDelay();
    } else if (started_) {
      startAutoDelay();
    } else {
      session_->setAutoInsertDelay(true);
    }
  }
  updateManualDelayControlsAvailability();
}

void QVMainViewController::onTracking() {
  AppSettings::set().setTrackDelay(!AppSettings::set().trackDelay());
}

void QVMainViewController::trackingSettingChanged() {
  const bool on = AppSettings::set().trackDelay();
  session_->setTracking(on);
  ui_.trackButton->setChecked(on);
}

void QVMainViewController::onFinderBand(int index) {
  if (index < 0 || index >= ui_.finderBandCombo->count()) return;
  const QPointF band = ui_.finderBandCombo->itemData(index).toPointF();
  AppSettings::set().setDelayFinderBand({band.x(), band.y()});
}

void QVMainViewController::finderBandSettingChanged() {
  const auto band = AppSettings::set().delayFinderBand();
  session_->setFinderBand(band.first, band.second);
  selectFinderBand(ui_.finderBandCombo, band);
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

bool QVMainViewController::setDelayMS(double value) {
  if (!session_->setDelayMs(value)) return false;  // the session said why
  updateDelayReadings();
  AppSettings::set().setDelayValueMS(session_->delayMs());
  return true;
}

double QVMainViewController::delayMS() const { return session_->delayMs(); }

void QVMainViewController::onDelayStepper(double value) {
  // A delay set by hand ends the automatic one (not the finder that only feeds the impulse).
  if (session_->delayFinderRunning() && session_->autoInsertDelay()) stopAutoDelay();
  setDelayMS(value);
}

void QVMainViewController::delayFieldEdited() {
  QLineEdit* field = ui_.delayTextField;
  if (!field->isModified()) return;
  field->setModified(false);
  bool ok = false;
  const double typed = QLocale::c().toDouble(field->text().trimmed(), &ok);
  // Hundredths of a millisecond, applied exactly from there.
  const double value = std::round(typed * 100.0) / 100.0;
  if (!ok || !std::isfinite(value) || std::fabs(value) > session::MeasurementSession::kMaxDelayMs) {
    refuseDelayEntry();
  } else {
    onDelayStepper(value);
  }
  field->clearFocus();
}

void QVMainViewController::refuseDelayEntry() {
  QLineEdit* field = ui_.delayTextField;
  const QString message = tr("The delay is a number of milliseconds from -3000 to 3000");
  qv::log("Delay entry \"%s\" refused", field->text().toUtf8().constData());
  lastRefusal_ = message;
  // The delay in force comes back into the field; the message says what it takes.
  field->setModified(false);
  updateDelayReadings();
  field->setProperty("refused", true);
  field->style()->unpolish(field);
  field->style()->polish(field);
  QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), message, field, {},
                     kRefusalShownMs);
  QTimer::singleShot(kRefusalShownMs, field, [field] {
    field->setProperty("refused", false);
    field->style()->unpolish(field);
    field->style()->polish(field);
  });
}

void QVMainViewController::updateDelayReadings() {
  const double delay = delayMS();
  ui_.topLabel->setText(
      QString::asprintf("Dly: %2.2f ms, Coh: %2.1f", delay, static_cast<double>(delayCoherence_)));
  ui_.delayDetailLabel->setText(delayDetailText(delay, session_->sampleRate(),
                                                AppSettings::set().airTemperatureC(),
                                                session_->delayStatus()));
  ui_.delayStepper->setValue(delay);
  // Never overwrite what the user is typing. The same text again would still repaint the
  // field at every finder result.
  QLineEdit* field = ui_.delayTextField;
  const QString text = QString::asprintf("%.2f", delay);
  if (!(field->hasFocus() && field->isModified()) &&
      (field->isModified() || field->text() != text)) {
    field->setText(text);
  }
}

void QVMainViewController::updateManualDelayControlsAvailability() {
  const bool on = AppSettings::set().autoDelayOn();
  ui_.delayTextField->setEnabled(!on);
  ui_.autoDelayButton->setChecked(on);
}

}  // namespace qv::gui
