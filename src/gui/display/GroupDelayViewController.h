#pragma once
// The group delay view: the group delay of the averaged transfer function in milliseconds
// over the transfer function's own log-frequency axis, with gaps where the coherence is too
// low to trust the phase, and the compensated delay added back so it reads the system's own
// delay. It covers the plot area it is given while shown, and its engine runs in the
// session only then; whether it is shown is kept in the settings.
// Thread contract: main thread only; snapshots reach it through refresh() (the views'
// listener on the main queue, or the caller in a driven session).
#include <QWidget>
#include <memory>

#include "plot/Chart.h"
#include "session/MeasurementSession.h"

class QLabel;
class QSettings;

namespace qv::gui {

class SpectrumPlotView;

class GroupDelayViewController : public QWidget {
  Q_OBJECT

 public:
  GroupDelayViewController(std::shared_ptr<session::MeasurementSession> session,
                           QSettings& settings, QWidget* plotArea);
  ~GroupDelayViewController() override;

  void setShown(bool shown);
  bool shown() const { return shown_; }
  void refresh();

  SpectrumPlotView* plotView() const { return plot_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void apply();

  std::shared_ptr<session::MeasurementSession> session_;
  QSettings& store_;
  QWidget* plotArea_;
  bool shown_ = false;
  SpectrumPlotView* plot_ = nullptr;
  QLabel* note_ = nullptr;
  std::shared_ptr<plot::Chart> chart_;
};

}  // namespace qv::gui
