#pragma once
// Turns the measurement session's snapshots into moving curves: creates the live charts on
// the magnitude, phase and impulse views, puts each new display snapshot into them (and
// each finder result's impulse), draws and removes captured traces, and captures the live
// curves as a new trace.
// Thread contract: main thread only. The session's ticks run on its own queues; their
// results reach this controller through the main queue, and it reads snapshots without
// waiting for a tick.
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "curves/TargetCurve.h"
#include "gui/display/SpectrumPlotView.h"
#include "gui/display/TraceLegend.h"
#include "platform/GCDTimer.h"
#include "plot/ChartProxy.h"
#include "plot/XValuesSpan.h"
#include "session/MeasurementSession.h"
#include "traces/CaptureRetryQueue.h"
#include "traces/TraceNotifier.h"
#include "traces/TraceShot.h"

namespace qv {
class TraceManager;
}

namespace qv::gui {

class AppSettings;

class QVPlotController {
 public:
  // What the program takes from the process; tests replace them.
  struct Options {
    TraceManager* traceManager = nullptr;  // null: TraceManager::shared()
    AppSettings* settings = nullptr;       // null: AppSettings::set()
  };

  // Follows the session's display, registers for trace visibility changes and draws the
  // visible stored traces at once. The views are watched (a view that went away is
  // skipped).
  QVPlotController(std::shared_ptr<session::MeasurementSession> session,
                   SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView, Options options);
  QVPlotController(std::shared_ptr<session::MeasurementSession> session,
                   SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView)
      : QVPlotController(std::move(session), magPlotView, phasePlotView, Options()) {}
  // Leaves the trace store and the session's display.
  ~QVPlotController();
  QVPlotController(const QVPlotController&) = delete;
  QVPlotController& operator=(const QVPlotController&) = delete;

  void setImpulsePlotView(SpectrumPlotView* view);
  SpectrumPlotView* impulsePlotView() const { return impulsePlotView_; }
  SpectrumPlotView* magPlotView() const { return magPlotView_; }
  SpectrumPlotView* phasePlotView() const { return phasePlotView_; }

  // Once, after the impulse view is set.
  void setupLiveCharts();

  // Start and stop the session's display ticks; the views animate while it ticks.
  void startAnimating();
  void stopAnimating();
  // The newest display snapshot into the live charts, and one redraw of both views.
  void updatePlots();
  // Told after each snapshot went into the live charts.
  void setPlotsUpdatedListener(std::function<void()> listener) {
    plotsUpdated_ = std::move(listener);
  }
  // A finder result's impulse into its chart, redrawn when the impulse view is shown: the
  // finder's window, one point a sample, in ms against the delay in force (0 ms: the
  // arrival the delay compensates), scaled so that its peak is ±100 %. The view follows
  // the peak when it nears an edge. While the view is hidden only the newest window is
  // kept; it goes into the chart when the view shows.
  void showImpulse(const session::DelaySnapshot& result);
  // The impulse view's axes: the time (ms) and amplitude (%) ranges and grid.
  static constexpr double kImpulseFullMs = 6000.0;  // the finder's reach and the delay's
  static constexpr double kImpulseVisibleMs = 50.0;
  static constexpr double kImpulseFullPercent = 120.0;
  static constexpr double kImpulseVisiblePercent = 110.0;
  void setupImpulseAxes();

  // Milliseconds; negative delays the other channel.
  void setDelay(double delayMs);
  double delay() const;
  // 1/N-octave smoothing; applied between ticks, read back at once.
  void setSmoothing(int64_t smoothing);
  int64_t smoothing() const;

  // Stores the newest snapshot's curves as a trace named "TF", with the microphone
  // calibration they were corrected by; `completion` hears whether the store kept it (and
  // why not, in words).
  void shotLiveTrace(CaptureCompletion completion = {});
  void liveTracesToFront();
  void shotVisibilityChanged(const TraceShot& shot);

  // ---- comparing, the target, the legend ----
  // Shows every curve relative to `reference` (null: as measured): the live curves as the
  // session publishes them relative to it, each trace shown as the difference from it,
  // offsets applied to both. The target is not drawn meanwhile (it is absolute).
  void setCompareReference(TraceShotRef reference);
  const TraceShotRef& compareReference() const { return reference_; }
  // The target curve and its tolerance band behind every curve of the magnitude view (no
  // value: none).
  void setTarget(std::optional<curves::TargetCurve> target);
  const std::optional<curves::TargetCurve>& target() const { return target_; }
  // Corrects the live curves by `calibration` (null: none) and names it in the legend.
  void setMicCalibration(std::shared_ptr<const curves::MicCalibration> calibration);
  // The legend on the magnitude view: the traces shown, the reference, the target.
  TraceLegend* legend() const { return legend_; }
  void updateLegend();
  // The width traces are drawn at: the preference, but wider than the live curves.
  float traceThickness() const;

  session::MeasurementSession& session() const { return *session_; }
  double updateInterval() const { return session_->displayInterval(); }
  // Null while stopped before the first start.
  const GCDTimer* updateTimer() const { return session_->displayTimer(); }
  // Ticks run so far (any thread).
  uint64_t tickCount() const { return session_->displayTicks(); }

  std::shared_ptr<plot::ChartProxy> liveMagChart() const { return liveMagChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> livePhaseChart() const { return livePhaseChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> liveCohChart() const { return liveCohChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> liveImpChart() const { return liveImpChart_.lock(); }

  // The labels of the octave lines of the frequency axis, from 8 Hz up.
  static QStringList frequencyLabels();

  // The span of the session's bands on the log-frequency axis.
  plot::XValuesSpan modelSpan() const;

 private:
  void showTraceForShot(const TraceShot& shot);
  void hideTraceForShot(const TraceShot& shot);
  void setViewsAnimating(bool animating);
  // Every visible trace again, the list's first topmost, the live curves above them.
  void redrawVisibleTraces();
  void drawTarget();
  // Moves the impulse view's visible time range so that a peak near or past an edge shows.
  void frameImpulse(double peakMs);
  void drawImpulse(const float* window, int32_t points, double firstMs, double msPerSample);
  void drawPendingImpulse();

  std::shared_ptr<session::MeasurementSession> session_;
  std::weak_ptr<plot::ChartProxy> liveMagChart_;
  std::weak_ptr<plot::ChartProxy> livePhaseChart_;
  std::weak_ptr<plot::ChartProxy> liveCohChart_;
  std::weak_ptr<plot::ChartProxy> liveImpChart_;
  QPointer<SpectrumPlotView> magPlotView_;
  QPointer<SpectrumPlotView> phasePlotView_;
  QPointer<SpectrumPlotView> impulsePlotView_;
  std::vector<float> impulse_;  // main thread: the newest impulse, scaled
  // The newest impulse while the view is hidden, as it came (empty: none waiting).
  std::vector<float> pendingImpulse_;
  double pendingFirstMs_ = 0.0;
  double pendingMsPerSample_ = 0.0;
  QPointer<QObject> impulseWatcher_;  // a child of the impulse view

  TraceManager& traces_;
  AppSettings& settings_;
  std::unique_ptr<GCDTimer> raiseTimer_;
  TraceShotRef reference_;
  std::optional<curves::TargetCurve> target_;
  QPointer<TraceLegend> legend_;
  TraceNotificationToken listObservation_;
  std::function<void()> plotsUpdated_;
};

}  // namespace qv::gui
