#include "gui/app/QVMainViewController.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cmath>

#include "audio/GeneratorController.h"
#include "audio/QVRecorder.h"
#include "audio/QXBassHelper.h"
#include "audio/QXDeviceManager.h"
#include "delay/QVDelayFinder.h"
#include "engine/TransferFunctionModel.h"
#include "gui/app/AlertAsker.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/display/QVLevelMeterView.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "traces/TraceManager.h"

namespace qv::gui {
namespace {

constexpr int64_t kRepairedSmoothing = 24;
constexpr uint32_t kGeneratorRate = 44100;

QString fromStd(const std::string& s) { return QString::fromStdString(s); }

// The cursor notification carries four numbers: frequency, magnitude, phase, coherence.
bool cursorValues(const std::any& object, float out[4]) {
  if (const auto* a = std::any_cast<std::array<float, 4>>(&object)) {
    std::copy(a->begin(), a->end(), out);
    return true;
  }
  if (const auto* v = std::any_cast<std::vector<float>>(&object); v && v->size() == 4) {
    std::copy(v->begin(), v->end(), out);
    return true;
  }
  if (const auto* d = std::any_cast<std::vector<double>>(&object); d && d->size() == 4) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<float>((*d)[static_cast<size_t>(i)]);
    return true;
  }
  return false;
}

}  // namespace

// The recorder holds its delegate weakly; this bridge is that delegate and goes with the
// controller, so a late call from a recorder that outlives us finds nobody.
class QVMainViewController::RecorderDelegateBridge final : public QVRecorderDelegate {
 public:
  explicit RecorderDelegateBridge(QVMainViewController* owner) : owner_(owner) {}
  void recorderStartedWithChannel(QVRecorder&, uint32_t) override {
    if (owner_) owner_->plotViewController_->start();
  }
  void recorderStoppedWithChannel(QVRecorder&, uint32_t) override {
    if (owner_) owner_->plotViewController_->stop();
  }
  QVMainViewController* owner_;
};

QVMainViewController::QVMainViewController(QWidget* parent, std::unique_ptr<AlertAsker> asker)
    : QWidget(parent),
      recorderDelegate_(std::make_shared<RecorderDelegateBridge>(this)),
      asker_(asker ? std::move(asker) : std::make_unique<MessageBoxAlertAsker>(this)) {
  AppSettings& settings = AppSettings::set();
  ui_ = buildMainViewOutlets(this);

  // Opening the store first creates its database before any plot asks it for traces.
  TraceManager::shared();
  QXBassHelper::initDecodingCapability();

  plotViewController_ = std::make_unique<QVPlotViewController>();
  plotViewController_->setBaseView(ui_.plotBaseView);

  for (int64_t n : smoothingModel_.smoothingValues())
    ui_.smoothingCombo->addItem(fromStd(SmoothingModel::smoothingStringFromSmoothing(n)),
                                QVariant::fromValue<qlonglong>(n));

  int64_t smoothing = settings.smoothingFactor();
  if (!SmoothingModel::isOffered(smoothing)) {
    settings.setSmoothingFactor(kRepairedSmoothing);
    smoothing = kRepairedSmoothing;
  }
  plotController()->setSmoothing(smoothing);

  plotViewController_->setShowImpulsePlot(settings.showImpulseView());
  autoInsertDelay_ = settings.autoDelayOn();

  // Only a plausible positive delay is restored; 0.01 itself is just below 0.01 as a float.
  const float storedDelay = settings.delayValueMS();
  if (storedDelay <= 1000.0f && static_cast<double>(storedDelay) >= 0.01) setDelayMS(storedDelay);

  // The generator never starts by itself.
  settings.setGeneratorOn(false);

  // A click on the bars takes the keyboard from the delay field, so the single-key
  // shortcuts work again.
  setFocusPolicy(Qt::ClickFocus);
  connect(ui_.inputLabel, &QVClickableLabel::clicked, this, [this] { openInputPreferences(); });

  buildMenus();
  connectControls();
  observeSettings();
  cursorObservation_ = NotificationCenter::defaultCenter().addObserver(
      "QVCursorMoved", [this](const std::any& object) { onCursorTrackingPlot(object); });
  traceObservation_ = TraceManager::shared().addNotificationBlock(
      [this](const TraceShotResults&, const std::optional<TraceChangeSet>&,
             const std::optional<std::string>&) { updateTraceCommandsAvailability(); });

  updateStartStopState();
  updateDelayReadings();
  updateTraceCommandsAvailability();
}

QVMainViewController::~QVMainViewController() {
  // The controls outlive this destructor (QWidget deletes them afterwards) and may still
  // report, e.g. the delay field losing focus as the window closes.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
  observations_.clear();
  cursorObservation_.reset();
  traceObservation_.stop();
  recorderDelegate_->owner_ = nullptr;
  if (delayFinderController_) delayFinderController_->stop();
  if (generatorController_) generatorController_->stop();
  ui_.levelMeterView->setChannel(0);
  recorder_.reset();
}

QVPlotController* QVMainViewController::plotController() const {
  return &*plotViewController_->plotController();
}

void QVMainViewController::setDeviceManager(std::shared_ptr<QXDeviceManager> deviceManager) {
  deviceManager_ = std::move(deviceManager);
}

void QVMainViewController::setAlertAsker(std::unique_ptr<AlertAsker> asker) {
  if (asker) asker_ = std::move(asker);
}

// ---- analysis ----

void QVMainViewController::startAnalysis() {
  startRecording();
  ui_.levelMeterView->setChannel(recorder_ ? recorder_->inputChannel() : 0);
  if (AppSettings::set().autoDelayOn()) startAutoDelay();
  updateStartStopState();
  updateDeviceLabel();
  AppSettings::set().setRunningOnStart(true);
}

void QVMainViewController::startRecording() {
  if (started_) {
    qv::log("PlotController: already started");
    return;
  }
  started_ = true;
  if (!recorder_) {
    const auto rate = static_cast<uint32_t>(plotViewController_->sampleRate());
    const std::string uid = AppSettings::set().recordingDeviceUUID().value_or(std::string());
    uint32_t channels = 0;
    if (deviceManager_) {
      if (auto device = deviceManager_->recordingDeviceByUID(uid))
        channels = device->inputStreamsNumber();
    }
    recorder_ = QVRecorder::initWithDeviceUUID(uid, channels, rate, false, recorderDelegate_);
    if (!recorder_) return;  // the recorder said why
    updateInputChannelAssignments();
    recorder_->addConsumer(plotController()->tfModel()->tfDataSource());
  }
  recorder_->resumeRec();
}

void QVMainViewController::stop() {
  ui_.levelMeterView->setChannel(0);
  stopRecording();
  if (delayFinderController_) delayFinderController_->stop();
  updateStartStopState();
}

void QVMainViewController::stopRecording() {
  if (started_ && recorder_) recorder_->pauseRec();
  plotViewController_->stop();
  started_ = false;
}

void QVMainViewController::pause() {
  stop();
  AppSettings::set().setRunningOnStart(false);
}

void QVMainViewController::onStartStop() {
  if (started_) {
    pause();
  } else {
    startAnalysis();
  }
  updateStartStopState();
}

void QVMainViewController::updateStartStopState() {
  ui_.startButton->setChecked(started_);
  ui_.startButton->setText(startButtonText(started_));
}

void QVMainViewController::updateInputChannelAssignments() {
  AppSettings& settings = AppSettings::set();
  const auto meas = static_cast<int32_t>(settings.measChannelIndex());
  const auto ref = static_cast<int32_t>(settings.refChannelIndex());
  // The meter shows the device's first two inputs; name them after their role.
  auto roleOf = [&](int32_t input) {
    if (input == meas) return tr("meas");
    if (input == ref) return tr("ref");
    return tr("in %1").arg(input + 1);
  };
  ui_.levelLegendTop->setText(roleOf(0));
  ui_.levelLegendBottom->setText(roleOf(1));
  if (!recorder_) return;
  const std::vector<int32_t> map{meas, ref};
  if (recorder_->channelMap() != map) recorder_->setChannelMap(map);
}

// ---- smoothing and averaging ----

void QVMainViewController::onSmoothingMenu(int tag) {
  const int64_t n = tag - kTagSmoothingBase;
  if (!SmoothingModel::isOffered(n)) return;
  plotController()->setSmoothing(n);
  AppSettings::set().setSmoothingFactor(n);
}

void QVMainViewController::comboBoxSelectionDidChange(int index) {
  if (index < 0 || index >= ui_.smoothingCombo->count()) return;
  const int64_t n = ui_.smoothingCombo->itemData(index).toLongLong();
  plotController()->setSmoothing(n);
  AppSettings::set().setSmoothingFactor(n);
}

void QVMainViewController::updateSmoothingCombo() {
  const int64_t current = plotController()->smoothing();
  int found = -1;
  for (int i = 0; i < ui_.smoothingCombo->count() && found < 0; ++i)
    if (ui_.smoothingCombo->itemData(i).toLongLong() == current) found = i;
  ui_.smoothingCombo->setCurrentIndex(found);
}

void QVMainViewController::updateSmoothingReadout() {
  ui_.smoothingLabel->setText(
      fromStd(SmoothingModel::smoothingStringFromSmoothing(AppSettings::set().smoothingFactor())));
  // The combo follows every change, whichever control made it.
  updateSmoothingCombo();
}

void QVMainViewController::onAveragingMenu(int tag) {
  auto model = plotController()->tfModel();
  if (tag == kTagResetAverages) {
    model->resetAverages();
    return;
  }
  const int k = tag - kTagAveragingBase;
  if (k < 1 || k > 1000) return;
  model->setAveragingIndex(static_cast<float>(k));
  AppSettings::set().setAveraging(k);
}

// ---- impulse plot, generator, traces ----

void QVMainViewController::onShowImpulcePlot(QAction* sender) {
  const bool show = !plotViewController_->showImpulsePlot();
  plotViewController_->setShowImpulsePlot(show);
  if (sender) sender->setChecked(show);
  AppSettings::set().setShowImpulseView(show);
}

bool QVMainViewController::generatorOn() const {
  return generatorController_ && generatorController_->isOn();
}

void QVMainViewController::toggleGenerator() { setGeneratorOn(!generatorOn()); }

void QVMainViewController::setGeneratorOn(bool on) {
  if (!generatorController_) generatorController_ = std::make_unique<GeneratorController>();
  AppSettings& settings = AppSettings::set();
  if (on) {
    const std::string uid = settings.preferredPlaybackDeviceUUID().value_or(std::string());
    const uint32_t handle = QXBassHelper().playbackDeviceHandleForUUID(uid);
    generatorController_->setSampleRate(kGeneratorRate);
    generatorController_->setDeviceHandle(handle);
    generatorController_->start();
  } else {
    generatorController_->stop();
  }
  settings.setGeneratorOn(on);
}

void QVMainViewController::onGeneratorOn() {
  toggleGenerator();
  ui_.generatorButton->setChecked(generatorOn());
  if (QAction* item = actionForTag(kTagGenerator)) item->setChecked(generatorOn());
}

void QVMainViewController::onTraceShot() { plotController()->shotLiveTrace(); }

void QVMainViewController::onTraceDelete() { TraceManager::shared().deleteAllSelected(); }

void QVMainViewController::clearAllTraces() {
  TraceManager& store = TraceManager::shared();
  if (store.allTraceShots().empty()) return;
  if (asker_->confirmWithAcceptTitle(
          QStringLiteral("Delete all captured traces?"),
          QStringLiteral("This will delete all captured traces completely"), QStringLiteral("Ok")))
    store.clearAll();
}

void QVMainViewController::updateTraceCommandsAvailability() {
  const bool selected = TraceManager::shared().hasSelectedTraces();
  ui_.deleteButton->setEnabled(selected);
  if (QAction* item = actionForTag(kTagDeleteSelected)) item->setEnabled(selected);
}

// ---- devices ----

void QVMainViewController::setInputDeviceUUID() {
  if (started_) {
    stop();
    recorder_.reset();
    startAnalysis();
  } else {
    recorder_.reset();
  }
  updateDeviceLabel();
}

void QVMainViewController::setOutputDeviceUUID() {
  if (!generatorOn()) return;
  setGeneratorOn(false);
  setGeneratorOn(true);
}

void QVMainViewController::updateDeviceLabel() {
  const auto uid = AppSettings::set().recordingDeviceUUID();
  if (!uid) {
    ui_.inputLabel->setText(QString());
    return;
  }
  ui_.inputLabel->setText(
      fromStd(QXBassHelper().inputDeviceTitleForUUID(*uid).value_or(std::string())));
}

void QVMainViewController::openInputPreferences() {
  if (openPreferences_) openPreferences_();
}

// ---- settings and cursor ----

void QVMainViewController::observeSettings() {
  AppSettings& settings = AppSettings::set();
  auto watch = [&](const char* property, std::function<void()> action) {
    observations_.push_back(settings.observe(
        property, [action = std::move(action)](const QVariant&) { action(); }, true));
  };
  watch("playbackDeviceUUID", [this] { setOutputDeviceUUID(); });
  watch("recordingDeviceUUID", [this] {
    setInputDeviceUUID();
    updateDeviceLabel();
  });
  watch("smoothingFactor", [this] { updateSmoothingReadout(); });
  watch("autoDelayOn", [this] { updateManualDelayControlsAvailability(); });
  watch("averaging", [this] { updateAveraging(); });
  watch("refChannelIndex", [this] { updateInputChannelAssignments(); });
  watch("measChannelIndex", [this] { updateInputChannelAssignments(); });
}

void QVMainViewController::onCursorTrackingPlot(const std::any& object) {
  float v[4];
  if (!cursorValues(object, v)) return;
  const std::string smoothing =
      SmoothingModel::smoothingStringFromSmoothing(AppSettings::set().smoothingFactor());
  ui_.cursorLabel->setText(
      QString::asprintf("%2.0f Hz     %2.1f dB      %2.0f\u00B0     %2.0f %%      %s",
                        static_cast<double>(v[0]), static_cast<double>(v[1]),
                        static_cast<double>(v[2]), static_cast<double>(v[3]), smoothing.c_str()));
}

}  // namespace qv::gui
