#include "gui/app/QVMainViewController.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cmath>

#include "audio/QXBassHelper.h"
#include "audio/QXDeviceManager.h"
#include "engine/AnalysisConstants.h"
#include "gui/app/AlertAsker.h"
#include "gui/app/CaptureNotice.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/display/QVLevelMeterView.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "gui/display/SpectrumViewController.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "session/AnalysisViews.h"
#include "traces/TraceManager.h"

namespace qv::gui {
namespace {

constexpr int64_t kRepairedSmoothing = 24;
// How long good news ("the device is back") stays in the notice line.
constexpr int kGoodNewsMs = 8000;
// How often the dropout indicator looks at the session's count.
constexpr int kLossPollMs = 500;

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

QVMainViewController::QVMainViewController(QWidget* parent, std::unique_ptr<AlertAsker> asker)
    : QWidget(parent),
      asker_(asker ? std::move(asker) : std::make_unique<MessageBoxAlertAsker>(this)) {
  AppSettings& settings = AppSettings::set();
  ui_ = buildMainViewOutlets(this);

  // Opening the store first creates its database before any plot asks it for traces.
  TraceManager::shared();
  QXBassHelper::initDecodingCapability();

  int64_t smoothing = settings.smoothingFactor();
  if (!SmoothingModel::isOffered(smoothing)) {
    settings.setSmoothingFactor(kRepairedSmoothing);
    smoothing = kRepairedSmoothing;
  }
  session::MeasurementSession::Config config;
  config.sampleRate = kAnalysisSampleRate;
  config.smoothing = smoothing;
  config.averagingIndex = static_cast<float>(std::max<int64_t>(0, settings.averaging()));
  session_ = std::make_shared<session::MeasurementSession>(config);
  session_->setDelayListener([this](const session::DelaySnapshot& result, bool accepted) {
    delayFinderResult(result, accepted);
  });

  session_->setDeviceListener(
      [this](const session::DeviceNotice& notice) { deviceNotice(notice); });

  plotViewController_ = std::make_unique<QVPlotViewController>(session_);
  plotViewController_->setBaseView(ui_.plotBaseView);

  for (int64_t n : smoothingModel_.smoothingValues())
    ui_.smoothingCombo->addItem(fromStd(SmoothingModel::smoothingStringFromSmoothing(n)),
                                QVariant::fromValue<qlonglong>(n));

  plotViewController_->setShowImpulsePlot(settings.showImpulseView());
  spectrumView_ = new SpectrumViewController(session_, settings.defaults(), ui_.plotBaseView);
  spectrogramView_ = new SpectrogramViewController(session_, settings.defaults(), ui_.plotBaseView);
  groupDelayView_ = new GroupDelayViewController(session_, settings.defaults(), ui_.plotBaseView);
  // One at a time, even when the stored settings say otherwise.
  if (spectrumView_->shown()) spectrogramView_->setShown(false);
  if (spectrumView_->shown() || spectrogramView_->shown()) groupDelayView_->setShown(false);
  session_->views().setListener([this] {
    if (spectrumView_) spectrumView_->refresh();
    if (spectrogramView_) spectrogramView_->refresh();
    if (groupDelayView_) groupDelayView_->refresh();
  });
  session_->setAutoInsertDelay(settings.autoDelayOn());

  // Only a plausible positive delay is restored; 0.01 itself is just below 0.01 as a float.
  const double storedDelay = settings.delayValueMS();
  if (storedDelay <= session::MeasurementSession::kMaxDelayMs && storedDelay >= 0.01)
    setDelayMS(storedDelay);

  // The generator never starts by itself.
  settings.setGeneratorOn(false);

  // A click on the bars takes the keyboard from the delay field, so the single-key
  // shortcuts work again.
  setFocusPolicy(Qt::ClickFocus);
  setAcceptDrops(true);
  connect(ui_.inputLabel, &QVClickableLabel::clicked, this, [this] { openInputPreferences(); });

  buildMenus();
  connectControls();
  observeSettings();
  cursorObservation_ = NotificationCenter::defaultCenter().addObserver(
      "QVCursorMoved", [this](const std::any& object) { onCursorTrackingPlot(object); });
  traceObservation_ = TraceManager::shared().addNotificationBlock(
      [this](const TraceShotResults&, const std::optional<TraceChangeSet>&,
             const std::optional<std::string>&) { updateTraceCommandsAvailability(); });

  lossTimer_ = new QTimer(this);
  connect(lossTimer_, &QTimer::timeout, this, [this] { updateLossIndicator(); });
  lossTimer_->start(kLossPollMs);

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
  session_->setDelayListener(nullptr);
  session_->setDeviceListener(nullptr);
  session_->views().setListener(nullptr);
  delete spectrumView_.data();
  delete spectrogramView_.data();
  delete groupDelayView_.data();
  ui_.levelMeterView->setChannel(0);
  // The plots go before the session whose snapshots they show.
  plotViewController_.reset();
  session_.reset();
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
  ui_.levelMeterView->setChannel(session_->inputChannel());
  // A start that failed keeps the automatic delay as chosen, for the start that works.
  if (started_ && AppSettings::set().autoDelayOn()) startAutoDelay();
  updateImpulseFinder();
  updateStartStopState();
  updateDeviceLabel();
  AppSettings::set().setRunningOnStart(true);
}

void QVMainViewController::startRecording() {
  if (started_) {
    qv::log("PlotController: already started");
    return;
  }
  const std::string uid = AppSettings::set().recordingDeviceUUID().value_or(std::string());
  uint32_t channels = 0;
  if (deviceManager_) {
    if (auto device = deviceManager_->recordingDeviceByUID(uid))
      channels = device->inputStreamsNumber();
  }
  // The session makes the recorder on the first start and keeps it until the device
  // changes; the display ticks while the capture runs. A start that fails is told in the
  // notice line, and the button stays on Start.
  started_ = session_->startCapture(uid, channels);
  if (started_) setNotice(kInputNotice, QString(), false);
}

void QVMainViewController::stop() {
  ui_.levelMeterView->setChannel(0);
  stopRecording();
  updateImpulseFinder();
  updateStartStopState();
}

void QVMainViewController::stopRecording() {
  // Capture, display and finder pause; recorder and finder stay for the next start.
  session_->stopCapture();
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
  session_->setChannelMap(meas, ref);
}

// ---- smoothing and averaging ----

void QVMainViewController::onSmoothingMenu(int tag) {
  const int64_t n = tag - kTagSmoothingBase;
  if (!SmoothingModel::isOffered(n)) return;
  session_->setSmoothing(n);
  AppSettings::set().setSmoothingFactor(n);
}

void QVMainViewController::comboBoxSelectionDidChange(int index) {
  if (index < 0 || index >= ui_.smoothingCombo->count()) return;
  const int64_t n = ui_.smoothingCombo->itemData(index).toLongLong();
  session_->setSmoothing(n);
  AppSettings::set().setSmoothingFactor(n);
}

void QVMainViewController::updateSmoothingCombo() {
  const int64_t current = session_->smoothing();
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
  if (tag == kTagResetAverages) {
    session_->resetAverages();
    return;
  }
  const int k = tag - kTagAveragingBase;
  if (k < 1 || k > 1000) return;
  session_->setAveragingIndex(static_cast<float>(k));
  AppSettings::set().setAveraging(k);
}

// ---- impulse plot, generator, traces ----

void QVMainViewController::onShowImpulcePlot(QAction* sender) {
  const bool show = !plotViewController_->showImpulsePlot();
  plotViewController_->setShowImpulsePlot(show);
  if (sender) sender->setChecked(show);
  AppSettings::set().setShowImpulseView(show);
  updateImpulseFinder();
}

void QVMainViewController::onShowAnalysisView(int tag) {
  const auto setShown = [this](int t, bool on) {
    if (t == kTagSpectrumView) spectrumView_->setShown(on);
    if (t == kTagSpectrogramView) spectrogramView_->setShown(on);
    if (t == kTagGroupDelayView) groupDelayView_->setShown(on);
  };
  const bool show = tag == kTagSpectrumView      ? !spectrumView_->shown()
                    : tag == kTagSpectrogramView ? !spectrogramView_->shown()
                                                 : !groupDelayView_->shown();
  // The others go first, so that at most one of their engines runs at any time.
  const int tags[] = {kTagSpectrumView, kTagSpectrogramView, kTagGroupDelayView};
  for (int t : tags)
    if (t != tag) setShown(t, false);
  setShown(tag, show);
  for (int t : tags)
    if (QAction* item = actionForTag(t)) validateMenuItem(item);
}

bool QVMainViewController::generatorOn() const { return session_->generatorOn(); }

void QVMainViewController::toggleGenerator() { setGeneratorOn(!generatorOn()); }

void QVMainViewController::setGeneratorOn(bool on) {
  AppSettings& settings = AppSettings::set();
  session_->setGeneratorOn(on, settings.preferredPlaybackDeviceUUID().value_or(std::string()));
  settings.setGeneratorOn(on);
}

void QVMainViewController::onGeneratorOn() {
  toggleGenerator();
  ui_.generatorButton->setChecked(generatorOn());
  if (QAction* item = actionForTag(kTagGenerator)) item->setChecked(generatorOn());
}

void QVMainViewController::onTraceShot() {
  // A capture the store could not keep says so in the window (the log line stays); the
  // next one that is stored takes the message away.
  QPointer<QVMainViewController> alive(this);
  plotController()->shotLiveTrace([this, alive](const CaptureOutcome& outcome) {
    if (!alive) return;
    if (outcome.shot) {
      setNotice(kCaptureNotice,
                CaptureNotice::message(*outcome.shot, TraceManager::shared().allTraceShots(),
                                       AppSettings::set().showTraceManager()),
                false, CaptureNotice::kShowMs);
      return;
    }
    const std::string sentence = outcome.failure.sentence();
    setNotice(kCaptureNotice,
              fromStd(sentence.empty() ? "The trace was not saved: " + outcome.error : sentence),
              true);
  });
}

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

void QVMainViewController::deviceNotice(const session::DeviceNotice& notice) {
  using Kind = session::DeviceNotice::Kind;
  if (notice.kind == Kind::InputLost || notice.kind == Kind::InputFailed) {
    // Nothing is measured until the device is back: the button must not say Pause.
    started_ = false;
    ui_.levelMeterView->setChannel(0);
  } else if (notice.kind == Kind::InputBack && notice.resumed) {
    started_ = true;
    ui_.levelMeterView->setChannel(session_->inputChannel());
  }
  updateStartStopState();
  ui_.generatorButton->setChecked(generatorOn());
  if (QAction* item = actionForTag(kTagGenerator)) item->setChecked(generatorOn());

  const bool input = notice.kind == Kind::InputLost || notice.kind == Kind::InputBack ||
                     notice.kind == Kind::InputFailed;
  setNotice(input ? kInputNotice : kOutputNotice, fromStd(notice.sentence), notice.isProblem());
}

void QVMainViewController::setNotice(NoticePart part, const QString& text, bool problem,
                                     int showMs) {
  const uint64_t serial = ++noticeSerial_;
  notices_[part] = Notice{text, problem, serial};
  if (!text.isEmpty() && !problem) {
    QTimer::singleShot(showMs > 0 ? showMs : kGoodNewsMs, this, [this, part, serial] {
      if (notices_[part].serial == serial) setNotice(part, QString(), false);
    });
  }
  QStringList parts;
  bool anyProblem = false;
  for (const Notice& n : notices_) {
    if (n.text.isEmpty()) continue;
    parts << n.text;
    anyProblem = anyProblem || n.problem;
  }
  showNotice(ui_.noticeLabel, parts.join(QLatin1Char(' ')), anyProblem);
}

void QVMainViewController::updateLossIndicator() {
  const ChannelLosses lost = session_->losses();
  if (lost.xruns == 0 && lost.droppedFrames == 0) {
    ui_.lossLabel->hide();
    return;
  }
  QString text = tr("Lost audio:");
  if (lost.xruns > 0) text += tr(" %1 dropouts").arg(lost.xruns);
  if (lost.droppedFrames > 0)
    text += (lost.xruns > 0 ? QStringLiteral(",") : QString()) +
            tr(" %1 frames").arg(lost.droppedFrames);
  ui_.lossLabel->setText(text);
  ui_.lossLabel->setToolTip(
      tr("Since the start, the audio device reported %1 dropouts (audio it could not deliver "
         "in time) and %2 frames found no room to be analysed. The curves stay valid; many "
         "dropouts call for a larger buffer in the audio server.")
          .arg(lost.xruns)
          .arg(lost.droppedFrames));
  ui_.lossLabel->show();
}

void QVMainViewController::setInputDeviceUUID() {
  if (started_) {
    stop();
    session_->releaseInput();
    startAnalysis();
  } else {
    session_->releaseInput();
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
  watch("autoDelayOn", [this] { autoDelaySettingChanged(); });
  watch("trackDelay", [this] { trackingSettingChanged(); });
  watch("delayFinderBand", [this] { finderBandSettingChanged(); });
  watch("airTemperatureC", [this] { updateDelayReadings(); });
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
