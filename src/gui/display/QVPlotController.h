#pragma once
// Turns the transfer-function model into moving curves: owns the model, creates the live
// charts on the magnitude, phase and impulse views, ticks the model on the shared update
// queue and pushes its curves into the charts, draws and removes captured traces, and
// captures the live curves as a new trace.
// Thread contract: everything here runs on the main thread except the tick (and smoothing
// changes), which run one after another on the serial update queue. A tick touches only
// the model and the live charts (never a widget) and asks the main queue for one redraw.
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/TransferFunctionModel.h"
#include "gui/display/QVTFPlotControllerDataSource.h"
#include "gui/display/SpectrumPlotView.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/GCDTimer.h"
#include "plot/ChartProxy.h"
#include "plot/XValuesSpan.h"
#include "traces/TraceShot.h"

namespace qv {
class TraceManager;
}

namespace qv::gui {

class AppSettings;

class QVPlotController {
 public:
  // What the program takes from the machine and the process; tests replace them.
  struct Options {
    unsigned processorCount = 0;           // 0: the machine's
    TraceManager* traceManager = nullptr;  // null: TraceManager::shared()
    AppSettings* settings = nullptr;       // null: AppSettings::set()
    std::shared_ptr<Clock> clock;          // null: the system clock
  };

  // Builds the model, registers for trace visibility changes and draws the visible stored
  // traces at once. The views and the data source must outlive nothing here: the views are
  // watched (a view that went away is skipped) and the data source is asked only now.
  QVPlotController(SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView,
                   QVTFPlotControllerDataSource* dataSource, Options options);
  QVPlotController(SpectrumPlotView* magPlotView, SpectrumPlotView* phasePlotView,
                   QVTFPlotControllerDataSource* dataSource)
      : QVPlotController(magPlotView, phasePlotView, dataSource, Options()) {}
  // Leaves the trace store, stops the ticks and waits for a running one to finish.
  ~QVPlotController();
  QVPlotController(const QVPlotController&) = delete;
  QVPlotController& operator=(const QVPlotController&) = delete;

  void setImpulsePlotView(SpectrumPlotView* view);
  SpectrumPlotView* impulsePlotView() const { return impulsePlotView_; }
  SpectrumPlotView* magPlotView() const { return magPlotView_; }
  SpectrumPlotView* phasePlotView() const { return phasePlotView_; }

  // Once, after the impulse view is set.
  void setupLiveCharts();

  void startAnimating();
  void stopAnimating();
  // One timer tick: the model's transform, the curves into the charts, one redraw request.
  // Update queue.
  void tick();
  // The model and chart work of a tick; update queue.
  void updateData(double seconds);
  // The redraw request of a tick; main thread.
  void updatePlots();

  // Milliseconds; negative delays the other channel.
  void setDelay(float delayMs);
  float delay() const { return delay_; }
  // 1/N-octave smoothing; applied on the update queue between ticks.
  void setSmoothing(int64_t smoothing);
  int64_t smoothing() const;

  void shotLiveTrace();
  void liveTracesToFront();
  void shotVisibilityChanged(const TraceShot& shot);

  // The one serial queue of every plot controller's ticks.
  static std::shared_ptr<dispatch::Queue> updateQueue();

  const std::shared_ptr<TransferFunctionModel>& tfModel() const { return tfModel_; }
  double updateInterval() const { return updateInterval_; }
  // Null while stopped before the first start.
  const GCDTimer* updateTimer() const { return updateTimer_.get(); }
  // Ticks run so far (any thread).
  uint64_t tickCount() const { return tickCount_.load(std::memory_order_relaxed); }

  std::shared_ptr<plot::ChartProxy> liveMagChart() const { return liveMagChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> livePhaseChart() const { return livePhaseChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> liveCohChart() const { return liveCohChart_.lock(); }
  std::shared_ptr<plot::ChartProxy> liveImpChart() const { return liveImpChart_.lock(); }

  // The labels of the octave lines of the frequency axis, from 8 Hz up.
  static QStringList frequencyLabels();

  // The span of the model's bands on the log-frequency axis.
  plot::XValuesSpan modelSpan() const;

 private:
  void showTraceForShot(const TraceShot& shot);
  void hideTraceForShot(const TraceShot& shot);

  std::unique_ptr<GCDTimer> updateTimer_;
  float delay_ = 0.0f;
  std::shared_ptr<TransferFunctionModel> tfModel_;
  double updateInterval_ = 1.0 / 15.0;
  std::weak_ptr<plot::ChartProxy> liveMagChart_;
  std::weak_ptr<plot::ChartProxy> livePhaseChart_;
  std::weak_ptr<plot::ChartProxy> liveCohChart_;
  std::weak_ptr<plot::ChartProxy> liveImpChart_;
  QVTFPlotControllerDataSource* dataSource_;
  QPointer<SpectrumPlotView> magPlotView_;
  QPointer<SpectrumPlotView> phasePlotView_;
  QPointer<SpectrumPlotView> impulsePlotView_;

  TraceManager& traces_;
  AppSettings& settings_;
  std::shared_ptr<Clock> clock_;
  // The tick's own references to the live charts: set once by setupLiveCharts, before any
  // timer exists, and read only by ticks. Holding the charts (not the views) keeps a tick
  // safe even when a view is destroyed meanwhile.
  std::shared_ptr<plot::Chart> tickMagChart_;
  std::shared_ptr<plot::Chart> tickPhaseChart_;
  std::shared_ptr<plot::Chart> tickCohChart_;
  std::atomic<double> lastTick_{0.0};
  std::atomic<uint64_t> tickCount_{0};
  // Redraw requests name this controller by address and serial number, so a request that
  // arrives after the controller is gone (or after another took its address) does nothing.
  uint64_t serial_;
  std::unique_ptr<GCDTimer> raiseTimer_;
};

}  // namespace qv::gui
