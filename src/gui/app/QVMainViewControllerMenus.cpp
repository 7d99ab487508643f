// The measurement view's menus, their validation, and the wiring of its controls.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "engine/AveragingChoice.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumViewController.h"
#include "traces/TraceManager.h"

namespace qv::gui {

QAction* QVMainViewController::addTaggedAction(QMenu* menu, const QString& title, int tag,
                                               bool checkable) {
  QAction* action = menu->addAction(title);
  action->setData(tag);
  action->setCheckable(checkable);
  taggedActions_.push_back(action);
  return action;
}

void QVMainViewController::buildMenus() {
  auto* measurement = new QMenu(tr("Measurement"), this);
  QAction* startStop = addTaggedAction(measurement, tr("Start"), kTagStartStop, false);
  startStop->setShortcut(QKeySequence(Qt::Key_Space));
  connect(startStop, &QAction::triggered, this, [this] { onStartStop(); });
  QAction* generator = addTaggedAction(measurement, tr("Signal Generator"), kTagGenerator, true);
  connect(generator, &QAction::triggered, this, [this] { onGeneratorOn(); });
  QAction* autoDelay = addTaggedAction(measurement, tr("Automatic Delay"), kTagAutoDelay, true);
  connect(autoDelay, &QAction::triggered, this, [this] { onAutoDelay(); });
  measurement->addSeparator();
  captureAction_ = measurement->addAction(tr("Capture Trace"));
  captureAction_->setShortcut(QKeySequence(Qt::Key_C));
  connect(captureAction_, &QAction::triggered, this, [this] { onTraceShot(); });
  QAction* deleteSelected =
      addTaggedAction(measurement, tr("Delete Selected Traces"), kTagDeleteSelected, false);
  deleteSelected->setShortcut(QKeySequence(QKeySequence::Delete));
  connect(deleteSelected, &QAction::triggered, this, [this] { onTraceDelete(); });
  clearAllAction_ = measurement->addAction(tr("Clear All Traces\u2026"));
  connect(clearAllAction_, &QAction::triggered, this, [this] { clearAllTraces(); });
  measurement->addSeparator();
  importTraceAction_ = measurement->addAction(tr("Import Trace\u2026"));
  connect(importTraceAction_, &QAction::triggered, this, [this] { onImportTrace(); });
  connect(
      addTaggedAction(measurement, tr("Microphone Calibration\u2026"), kTagMicCalibration, false),
      &QAction::triggered, this, [this] { onMicCalibration(); });
  connect(
      addTaggedAction(measurement, tr("No Microphone Calibration"), kTagNoMicCalibration, false),
      &QAction::triggered, this, [this] { clearMicCalibration(); });
  connect(addTaggedAction(measurement, tr("Target Curve\u2026"), kTagTargetCurve, false),
          &QAction::triggered, this, [this] { onTargetCurve(); });
  connect(addTaggedAction(measurement, tr("No Target Curve"), kTagNoTargetCurve, false),
          &QAction::triggered, this, [this] { clearTargetCurve(); });

  auto* smoothing = new QMenu(tr("Smoothing"), this);
  for (int64_t n : smoothingModel_.smoothingValues()) {
    QAction* item =
        addTaggedAction(smoothing, QString(), kTagSmoothingBase + static_cast<int>(n), true);
    validateMenuItem(item);  // the title comes from the tag
    connect(item, &QAction::triggered, this,
            [this, tag = kTagSmoothingBase + static_cast<int>(n)] { onSmoothingMenu(tag); });
  }

  // Each choice reads by what it does at this session's display rate, fastest first; the
  // stored value stays the index.
  auto* averaging = new QMenu(tr("Averaging"), this);
  averaging->setToolTipsVisible(true);
  const double tick = session_->displayInterval();
  for (int k : AveragingChoice::kIndices) {
    QAction* item =
        addTaggedAction(averaging, QString::fromStdString(AveragingChoice::label(k, tick)),
                        kTagAveragingBase + k, true);
    item->setToolTip(QString::fromStdString(AveragingChoice::description(k, tick)));
    connect(item, &QAction::triggered, this,
            [this, tag = kTagAveragingBase + k] { onAveragingMenu(tag); });
  }
  averaging->addSeparator();
  QAction* reset = addTaggedAction(averaging, tr("Reset Averages"), kTagResetAverages, false);
  connect(reset, &QAction::triggered, this, [this] { onAveragingMenu(kTagResetAverages); });

  auto* view = new QMenu(tr("View"), this);
  QAction* impulse = addTaggedAction(view, tr("Impulse Response"), kTagImpulsePlot, true);
  connect(impulse, &QAction::triggered, this, [this, impulse] { onShowImpulcePlot(impulse); });
  QAction* spectrum = addTaggedAction(view, tr("Spectrum and Level"), kTagSpectrumView, true);
  connect(spectrum, &QAction::triggered, this, [this] { onShowAnalysisView(kTagSpectrumView); });
  QAction* spectrogram = addTaggedAction(view, tr("Spectrogram"), kTagSpectrogramView, true);
  connect(spectrogram, &QAction::triggered, this,
          [this] { onShowAnalysisView(kTagSpectrogramView); });
  QAction* groupDelay = addTaggedAction(view, tr("Group Delay"), kTagGroupDelayView, true);
  connect(groupDelay, &QAction::triggered, this,
          [this] { onShowAnalysisView(kTagGroupDelayView); });
  QAction* traces = addTaggedAction(view, tr("Trace Manager"), kTagTraceManager, true);
  connect(traces, &QAction::triggered, this, [this] {
    if (toggleTraceManager_) toggleTraceManager_();
  });

  menus_ = {measurement, smoothing, averaging, view};
  for (QMenu* menu : menus_) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
      for (QAction* item : menu->actions())
        if (!item->isSeparator()) validateMenuItem(item);
    });
  }
  // The keys work without a menu bar too, and (like every window shortcut) not while a
  // text field has the keyboard: editors take Space, C and Delete for themselves.
  addActions({startStop, captureAction_, deleteSelected});
}

QList<QMenu*> QVMainViewController::menus() const { return {menus_.begin(), menus_.end()}; }

QAction* QVMainViewController::actionForTag(int tag) const {
  for (QAction* action : taggedActions_)
    if (action->data().toInt() == tag) return action;
  return nullptr;
}

void QVMainViewController::validateMenuItem(QAction* item) {
  const AppSettings& settings = AppSettings::set();
  const int tag = item->data().toInt();
  bool checked = false;
  bool enabled = true;
  if (tag == kTagStartStop) {
    item->setText(settings.runningOnStart() ? tr("Pause") : tr("Start"));
  } else if (tag == kTagGenerator) {
    checked = settings.generatorOn();
  } else if (tag == kTagAutoDelay) {
    checked = settings.autoDelayOn();
  } else if (tag == kTagDeleteSelected) {
    enabled = TraceManager::shared().hasSelectedTraces();
  } else if (tag >= kTagSmoothingBase + 1 && tag <= kTagSmoothingBase + 99) {
    const long n = tag - kTagSmoothingBase;
    item->setText(n == 1 ? QString::asprintf("%d", 1) : QString::asprintf("1/%ld", n));
    checked = n == settings.smoothingFactor();
  } else if (tag == kTagImpulsePlot) {
    checked = settings.showImpulseView();
  } else if (tag == kTagSpectrumView) {
    checked = spectrumView_ && spectrumView_->shown();
  } else if (tag == kTagSpectrogramView) {
    checked = spectrogramView_ && spectrogramView_->shown();
  } else if (tag == kTagGroupDelayView) {
    checked = groupDelayView_ && groupDelayView_->shown();
  } else if (tag == kTagTraceManager) {
    checked = settings.showTraceManager();
  } else if (tag == kTagNoMicCalibration) {
    enabled = plotController() && plotController()->session().micCalibration() != nullptr;
  } else if (tag == kTagNoTargetCurve) {
    enabled = plotController() && plotController()->target().has_value();
  } else if (tag >= kTagAveragingBase + 1 && tag <= kTagAveragingBase + 1000) {
    checked = settings.averaging() == tag - kTagAveragingBase;
  }
  // A plain command shows no check mark; setChecked on it would do nothing anyway.
  if (item->isCheckable() || checked) {
    item->setCheckable(true);
    item->setChecked(checked);
  }
  item->setEnabled(enabled);
}

void QVMainViewController::connectControls() {
  connect(ui_.startButton, &QPushButton::clicked, this, [this] { onStartStop(); });
  connect(ui_.autoDelayButton, &QPushButton::clicked, this, [this] { onAutoDelay(); });
  connect(ui_.generatorButton, &QPushButton::clicked, this, [this] { onGeneratorOn(); });
  connect(ui_.captureButton, &QPushButton::clicked, captureAction_, &QAction::trigger);
  connect(ui_.deleteButton, &QPushButton::clicked, this, [this] { onTraceDelete(); });
  connect(ui_.delayStepper, &QVDelayStepper::valueStepped, this,
          [this](double value) { onDelayStepper(value); });
  connect(ui_.delayTextField, &QLineEdit::editingFinished, this, [this] { delayFieldEdited(); });
  connect(ui_.trackButton, &QPushButton::clicked, this, [this] { onTracking(); });
  connect(ui_.finderBandCombo, &QComboBox::activated, this, [this](int index) {
    onFinderBand(index);
    ui_.finderBandCombo->clearFocus();
  });
  connect(ui_.smoothingCombo, &QComboBox::activated, this, [this](int index) {
    comboBoxSelectionDidChange(index);
    // Once the list closes the combo lets go of the keyboard, so Space starts and pauses.
    ui_.smoothingCombo->clearFocus();
  });
}

}  // namespace qv::gui
