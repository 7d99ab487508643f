#pragma once
// The group delay view: the group delay of the averaged transfer function in milliseconds
// over the transfer function's own log-frequency axis, with gaps where the coherence is too
// low to trust the phase, and the compensated delay added back so it reads the system's own
// delay. It covers the plot area it is given while shown, and its engine runs in the
// session only then; whether it is shown is kept in the settings.
// Thread contract: main thread only; snapshots reach it through refresh() (the views'
// listener on the main queue, or the caller in a driven session).
#include <memory>

#include "gui/display/AnalysisOverlay.h"
#include "plot/Chart.h"
#include "session/MeasurementSession.h"

class QLabel;
class QSettings;

namespace qv::gui {

class GroupDelayViewController : public AnalysisOverlay {
  Q_OBJECT

 public:
  GroupDelayViewController(std::shared_ptr<session::MeasurementSession> session,
                           QSettings& settings, QWidget* plotArea);
  ~GroupDelayViewController() override;

  void setShown(bool shown);
  bool shown() const { return shown_; }
  void refresh();

 private:
  void apply();

  std::shared_ptr<session::MeasurementSession> session_;
  QSettings& store_;
  bool shown_ = false;
  QLabel* note_ = nullptr;
  std::shared_ptr<plot::Chart> chart_;
};

}  // namespace qv::gui
