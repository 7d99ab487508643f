#pragma once
// The measurement view: the controls and read-outs above the plots. It owns the
// measurement session (which owns the chain: recorder, delay finder, generator) and turns
// every user control into calls on the session and the plots, remembering each choice in
// the settings. Main thread only; the session's results reach it on the main queue.
#include <QPointer>
#include <QWidget>
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/SmoothingModel.h"
#include "gui/app/AlertAsker.h"
#include "gui/app/AppSettings.h"
#include "gui/app/MainViewOutlets.h"
#include "gui/display/GroupDelayViewController.h"
#include "gui/display/SpectrogramViewController.h"
#include "gui/display/SpectrumViewController.h"
#include "gui/traces/ExportFileChooser.h"
#include "platform/NotificationCenter.h"
#include "session/MeasurementSession.h"
#include "traces/TraceNotifier.h"

class QAction;
class QTimer;
class QMenu;

namespace qv {
class QXDeviceManager;
}  // namespace qv

namespace qv::gui {

class QVPlotController;
class QVPlotViewController;

class QVMainViewController : public QWidget {
  Q_OBJECT

 public:
  // Menu item tags.
  static constexpr int kTagStartStop = 1000;
  static constexpr int kTagGenerator = 1100;
  static constexpr int kTagAutoDelay = 1200;
  static constexpr int kTagDeleteSelected = 4003;
  static constexpr int kTagSmoothingBase = 5000;
  static constexpr int kTagImpulsePlot = 6000;
  static constexpr int kTagTraceManager = 6100;
  static constexpr int kTagSpectrumView = 6200;
  static constexpr int kTagSpectrogramView = 6300;
  static constexpr int kTagGroupDelayView = 6400;
  static constexpr int kTagAveragingBase = 7000;
  static constexpr int kTagResetAverages = 8001;
  static constexpr int kTagMicCalibration = 9000;
  static constexpr int kTagNoMicCalibration = 9001;
  static constexpr int kTagTargetCurve = 9100;
  static constexpr int kTagNoTargetCurve = 9101;
  // The tolerance of target points that give none, in dB both ways.
  static constexpr double kDefaultTargetTolerance = 3.0;
  static constexpr int kAveragingChoices[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};

  // Opens the trace store and the plots and applies the remembered settings. `asker`
  // answers the clear-all question (message boxes when null).
  explicit QVMainViewController(QWidget* parent = nullptr,
                                std::unique_ptr<AlertAsker> asker = nullptr);
  ~QVMainViewController() override;

  // ---- called by the application coordinator ----
  void setDeviceManager(std::shared_ptr<QXDeviceManager> deviceManager);
  void startAnalysis();
  void stop();
  void pause();
  bool started() const { return started_; }
  void clearAllTraces();

  // ---- for the shell ----
  // The menus to put into the menu bar: measurement, smoothing, averaging, view.
  QList<QMenu*> menus() const;
  // The item with that tag (nullptr when there is none). Capture and clear-all carry no tag.
  QAction* actionForTag(int tag) const;
  // Capture, exactly as typing C (the trace panel's capture button triggers it).
  QAction* captureAction() const { return captureAction_; }
  QAction* clearAllAction() const { return clearAllAction_; }
  // A click on the input device label; the shell opens the preferences.
  void setOpenPreferencesCallback(std::function<void()> callback) {
    openPreferences_ = std::move(callback);
  }
  // The trace manager item (6100): the shell shows or hides the panel.
  void setToggleTraceManagerCallback(std::function<void()> callback) {
    toggleTraceManager_ = std::move(callback);
  }
  void setAlertAsker(std::unique_ptr<AlertAsker> asker);
  // Where a calibration or target file is chosen; a file dialog unless replaced.
  void setFileChooser(std::shared_ptr<ExportFileChooser> chooser);

  // ---- the microphone calibration and the target ----
  // Corrects the live curves (and so captures) by the calibration file at `path`; a file
  // that cannot be read or has a malformed line is refused with an alert naming the line,
  // and the calibration in force stays.
  bool loadMicCalibration(const QString& path);
  void clearMicCalibration();
  // Draws the target file at `path` with its tolerance band; refused as a calibration is.
  bool loadTargetCurve(const QString& path);
  void clearTargetCurve();
  // Asks for a curve file and stores it as a trace (as files dropped on the plots are).
  void onImportTrace();
  // Stores the curve file at `path` as a trace; a damaged file is refused with an alert
  // naming its line. True when stored or pending.
  bool importTrace(const QString& path);
  QAction* importTraceAction() const { return importTraceAction_; }
  void onMicCalibration();
  void onTargetCurve();

  // ---- user actions ----
  void onStartStop();
  void onAutoDelay();
  void onTracking();
  void onFinderBand(int index);
  void onDelayStepper(double value);
  void onSmoothingMenu(int tag);
  void comboBoxSelectionDidChange(int index);
  void onAveragingMenu(int tag);
  void onShowImpulcePlot(QAction* sender);
  // Shows the view of that tag over the plots (hiding the others), or hides it when shown.
  void onShowAnalysisView(int tag);
  void onGeneratorOn();
  void onTraceShot();
  void onTraceDelete();
  void openInputPreferences();
  void onCursorTrackingPlot(const std::any& object);

  // ---- other operations ----
  void startAutoDelay();
  void stopAutoDelay();
  // With the delay set by hand, the finder runs (inserting nothing) while the analysis runs
  // and the impulse view is shown, so the view shows the arrival against the delay in force.
  void updateImpulseFinder();
  // False (nothing changes) for no number or beyond ±3000 ms.
  bool setDelayMS(double value);
  double delayMS() const;
  void setGeneratorOn(bool on);
  bool generatorOn() const;
  void toggleGenerator();
  void updateInputChannelAssignments();
  void updateDeviceLabel();
  void updateStartStopState();
  void updateDelayReadings();
  void updateSmoothingReadout();
  void updateManualDelayControlsAvailability();
  void updateAveraging() {}
  void updateSmoothingCombo();
  // Sets title, check mark and enabled state of a menu item from its tag.
  void validateMenuItem(QAction* item);
  // ---- state, for the coordinator and tests ----
  bool autoInsertDelay() const { return session_->autoInsertDelay(); }
  float delayCoherence() const { return delayCoherence_; }
  // What the delay field said when it last refused an entry.
  const QString& lastRefusal() const { return lastRefusal_; }
  const MainViewOutlets& outlets() const { return ui_; }
  QVPlotViewController* plotViewController() const { return plotViewController_.get(); }
  QVPlotController* plotController() const;
  SpectrumViewController* spectrumView() const { return spectrumView_; }
  SpectrogramViewController* spectrogramView() const { return spectrogramView_; }
  GroupDelayViewController* groupDelayView() const { return groupDelayView_; }
  session::MeasurementSession& session() const { return *session_; }

 protected:
  // Curve files dropped on the plots are imported as traces.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void startRecording();
  void stopRecording();
  void setInputDeviceUUID();
  void setOutputDeviceUUID();
  void observeSettings();
  // A finder result reached the session: impulse, coherence read-out, and the delay when
  // the session accepted it.
  void delayFinderResult(const session::DelaySnapshot& result, bool accepted);
  void autoDelaySettingChanged();
  void trackingSettingChanged();
  void finderBandSettingChanged();
  void delayFieldEdited();
  // Puts the delay in force back into the field and says what it takes.
  void refuseDelayEntry();
  // A device went away, came back or failed: the buttons follow what runs, the notice
  // line says it in words (good news goes again after a while).
  void deviceNotice(const session::DeviceNotice& notice);
  // The read-out bar's dropout indicator, from the session's count of lost audio.
  void updateLossIndicator();
  void buildMenus();
  void connectControls();
  void updateTraceCommandsAvailability();
  QAction* addTaggedAction(QMenu* menu, const QString& title, int tag, bool checkable);

  float delayCoherence_ = 0.0f;
  QString lastRefusal_;
  bool started_ = false;
  // The notice line says at once what happened to the capture device, the noise's device
  // and the last capture; each part is replaced by its own news.
  enum NoticePart { kInputNotice, kOutputNotice, kCaptureNotice, kNoticeParts };
  struct Notice {
    QString text;
    bool problem = false;
    uint64_t serial = 0;
  };
  Notice notices_[kNoticeParts];
  // Sets one part of the notice line (empty: clears it); good news goes after a while
  // (`showMs`, or the default of good news when 0).
  void setNotice(NoticePart part, const QString& text, bool problem, int showMs = 0);
  uint64_t noticeSerial_ = 0;
  QTimer* lossTimer_ = nullptr;
  std::shared_ptr<QXDeviceManager> deviceManager_;
  MainViewOutlets ui_;
  std::shared_ptr<session::MeasurementSession> session_;
  std::unique_ptr<QVPlotViewController> plotViewController_;
  // Children of the plot area; at most one is shown, over the transfer function.
  QPointer<SpectrumViewController> spectrumView_;
  QPointer<SpectrogramViewController> spectrogramView_;
  QPointer<GroupDelayViewController> groupDelayView_;
  SmoothingModel smoothingModel_;

  std::unique_ptr<AlertAsker> asker_;
  std::shared_ptr<ExportFileChooser> fileChooser_;
  std::function<void()> openPreferences_;
  std::function<void()> toggleTraceManager_;

  std::vector<AppSettings::ObservationToken> observations_;
  NotificationCenter::Token cursorObservation_;
  TraceNotificationToken traceObservation_;

  std::vector<QMenu*> menus_;
  std::vector<QAction*> taggedActions_;
  QAction* captureAction_ = nullptr;
  QAction* clearAllAction_ = nullptr;
  QAction* importTraceAction_ = nullptr;
};

}  // namespace qv::gui
