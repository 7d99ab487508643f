#pragma once
// The measurement view: the controls and read-outs above the plots, and the owner of the
// measurement chain (recorder, automatic delay finder, signal generator). Every user
// control becomes calls on the plots and the engine, and each choice is remembered in the
// settings. Main thread only; delay finder results reach it on the main queue.
#include <QPointer>
#include <QWidget>
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/SmoothingModel.h"
#include "gui/app/AlertAsker.h"
#include "gui/app/AppSettings.h"
#include "gui/app/MainViewOutlets.h"
#include "platform/NotificationCenter.h"
#include "traces/TraceNotifier.h"

class QAction;
class QMenu;

namespace qv {
class GeneratorController;
class QVDelayFinder;
class QVRecorder;
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
  static constexpr int kTagAveragingBase = 7000;
  static constexpr int kTagResetAverages = 8001;
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

  // ---- user actions ----
  void onStartStop();
  void onAutoDelay();
  void onDelayStepper(float value);
  void onSmoothingMenu(int tag);
  void comboBoxSelectionDidChange(int index);
  void onAveragingMenu(int tag);
  void onShowImpulcePlot(QAction* sender);
  void onGeneratorOn();
  void onTraceShot();
  void onTraceDelete();
  void openInputPreferences();
  void onCursorTrackingPlot(const std::any& object);

  // ---- other operations ----
  void startAutoDelay();
  void stopAutoDelay();
  void setDelayMS(float value);
  float delayMS() const;
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
  // Called on the finder's result (on its thread or the main queue): keeps a copy of the
  // impulse and finishes on the main queue.
  void delayFinderResult(const float* impulse, int32_t count, float delay, float coherence);

  // ---- state, for the coordinator and tests ----
  bool autoInsertDelay() const { return autoInsertDelay_; }
  float delayCoherence() const { return delayCoherence_; }
  const MainViewOutlets& outlets() const { return ui_; }
  QVPlotViewController* plotViewController() const { return plotViewController_.get(); }
  QVPlotController* plotController() const;
  const std::shared_ptr<QVRecorder>& recorder() const { return recorder_; }
  const std::shared_ptr<QVDelayFinder>& delayFinderController() const {
    return delayFinderController_;
  }

 private:
  class RecorderDelegateBridge;

  void startRecording();
  void stopRecording();
  void setInputDeviceUUID();
  void setOutputDeviceUUID();
  void observeSettings();
  void finishDelayFinderResult();
  void buildMenus();
  void connectControls();
  void updateTraceCommandsAvailability();
  QAction* addTaggedAction(QMenu* menu, const QString& title, int tag, bool checkable);

  bool autoInsertDelay_ = false;
  float delayCoherence_ = 0.0f;
  bool started_ = false;
  std::shared_ptr<QXDeviceManager> deviceManager_;
  MainViewOutlets ui_;
  std::unique_ptr<QVPlotViewController> plotViewController_;
  std::shared_ptr<QVDelayFinder> delayFinderController_;
  std::unique_ptr<GeneratorController> generatorController_;
  std::shared_ptr<QVRecorder> recorder_;
  SmoothingModel smoothingModel_;

  std::shared_ptr<RecorderDelegateBridge> recorderDelegate_;
  std::unique_ptr<AlertAsker> asker_;
  std::function<void()> openPreferences_;
  std::function<void()> toggleTraceManager_;

  // The newest finder result waiting for the main queue. Later results overwrite it, so
  // the main queue always shows the newest one and a burst never queues up copies.
  struct PendingResult {
    std::vector<float> impulse;
    int32_t count = 0;
    float delay = 0.0f;
    float coherence = 0.0f;
    bool posted = false;
  };
  std::mutex pendingMutex_;
  PendingResult pending_;
  std::vector<float> impulseOnMain_;  // main thread: the copy handed to the plot

  std::vector<AppSettings::ObservationToken> observations_;
  NotificationCenter::Token cursorObservation_;
  TraceNotificationToken traceObservation_;

  std::vector<QMenu*> menus_;
  std::vector<QAction*> taggedActions_;
  QAction* captureAction_ = nullptr;
  QAction* clearAllAction_ = nullptr;
};

}  // namespace qv::gui
