#pragma once
// Builds the magnitude, phase and impulse views inside the base view the main window gives
// it, lays them out (impulse on top, magnitude, phase at the bottom) and keeps that layout
// through resizes, owns the one plot controller, links pan and zoom of the two frequency
// views, and snaps the cursor to the nearest band of both views, posting "QVCursorMoved"
// with frequency (Hz), magnitude (dB), phase (degrees) and coherence (%) as a
// std::vector<float>. Main thread only; the cursor reads the session's newest snapshot and
// never waits for a tick.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "gui/display/QVPlotController.h"
#include "gui/display/SpectrumPlotView.h"
#include "gui/plot/PlotView.h"

namespace qv::gui {

class QVPlotViewController final : public QObject, public PlotViewDelegate {
 public:
  // Where the three views go in a base view with these bounds (y grows downward).
  struct PlotFrames {
    QRect phase;
    QRect magnitude;
    QRect impulse;
  };
  static PlotFrames framesForBounds(const QRect& bounds, bool showImpulsePlot);

  // The plot controller made when the base view is set shows `session`'s curves; `options`
  // go to it.
  QVPlotViewController(std::shared_ptr<session::MeasurementSession> session,
                       QVPlotController::Options options);
  explicit QVPlotViewController(std::shared_ptr<session::MeasurementSession> session)
      : QVPlotViewController(std::move(session), QVPlotController::Options()) {}
  // Stops the plot controller before the views it draws into go.
  ~QVPlotViewController() override;

  // Builds everything the first time; the views then live in `view` and follow its size.
  void setBaseView(QWidget* view);
  QWidget* baseView() const { return baseView_; }
  void setShowImpulsePlot(bool show);
  bool showImpulsePlot() const { return showImpulsePlot_; }

  void start();
  void stop();

  QVPlotController* plotController() const { return plotController_.get(); }
  SpectrumPlotView* magPlotView() const { return magPlotView_; }
  SpectrumPlotView* phasePlotView() const { return phasePlotView_; }
  SpectrumPlotView* impPlotView() const { return impPlotView_; }
  // The views whose x range moves together: magnitude, then phase.
  std::vector<SpectrumPlotView*> linkedPlotViews() const;

  // PlotViewDelegate
  void plotViewPanned(PlotView* view) override;
  void plotViewZoomedIsHorizontal(PlotView* view, bool isHorizontal) override;
  QPointF plotViewCursorMoved(PlotView* view, QPointF point) override;
  QPointF plotViewCursorTrackingStarted(PlotView* view, QPointF point) override;
  QPointF plotViewCursorTrackingFinished(PlotView* view, QPointF point) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setupPlotView();
  // Units, the coherence scale and label columns shared by the three views.
  void setupScales();
  void layoutPlots();
  void showHideImpulsePlot();
  void linkVisibleRangeFrom(PlotView* view);
  // Snaps both cursors to the bands nearest `frequency` of the curves drawn and posts the
  // read-out; a blanked band keeps `height` on `view`. Returns the magnitude and phase points.
  std::pair<QPointF, QPointF> showCursorAt(float frequency, PlotView* view, double height);
  // After a snapshot went into the charts: the read-out again when its curves changed kind.
  void refreshCursorReadout();

  std::shared_ptr<session::MeasurementSession> session_;
  QVPlotController::Options options_;
  bool showImpulsePlot_ = false;
  std::unique_ptr<QVPlotController> plotController_;
  QPointer<SpectrumPlotView> magPlotView_;
  QPointer<SpectrumPlotView> phasePlotView_;
  QPointer<SpectrumPlotView> impPlotView_;
  QPointer<QWidget> baseView_;
  bool linking_ = false;
  // Where the cursor was put last, and what the read-out was taken from.
  std::optional<float> cursorHz_;
  int64_t readoutSmoothing_ = 0;
  bool readoutRelative_ = false;
};

}  // namespace qv::gui
