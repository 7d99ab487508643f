#include "gui/display/GroupDelayViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>

#include "engine/LinToLogTransformer.h"
#include "gui/Theme.h"
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

constexpr const char* kShownKey = "QVGroupDelayShown";

}  // namespace

GroupDelayViewController::GroupDelayViewController(
    std::shared_ptr<session::MeasurementSession> session, QSettings& settings, QWidget* plotArea)
    : AnalysisOverlay(plotArea, QStringLiteral("groupDelay")),
      session_(std::move(session)),
      store_(settings),
      shown_(settings.value(QString::fromLatin1(kShownKey), false).toBool()) {
  note_ =
      caption(tr("Group delay in ms, the delay in force included; gaps where the "
                 "coherence is below 50 %"));
  auto* row = new QHBoxLayout(bar());
  row->setContentsMargins(mv::kMargin, 6, mv::kMargin, 6);
  row->addWidget(note_);
  row->addStretch(1);

  plot()->setGridStepY(2.0);
  setLevelRange(-200.0, 1000.0, -4.0, 20.0);
  const LinToLogTransformer& axis = session_->axis();
  chart_ = plot()->addLineChartWithName("group delay",
                                        {axis.startFreqLog(), axis.stopFreqLog(), axis.bandCount()},
                                        theme::kRtaCurveThickness, theme::kLiveCurve);
  cover(shown_);
  apply();
}

GroupDelayViewController::~GroupDelayViewController() {
  session::AnalysisViews::Config c = session_->views().config();
  c.groupDelay.shown = false;
  session_->views().configure(c);
}

void GroupDelayViewController::setShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  cover(shown);
  apply();
}

void GroupDelayViewController::apply() {
  session::AnalysisViews::Config c = session_->views().config();
  c.groupDelay.shown = shown_;
  c.groupDelay.includesCompensation = true;
  session_->views().configure(c);
  store_.setValue(QString::fromLatin1(kShownKey), shown_);
}

void GroupDelayViewController::refresh() {
  if (!shown_) return;
  const auto snapshot = session_->views().latest();
  if (!snapshot || !snapshot->groupDelay.shown) return;
  const std::vector<float>& values = snapshot->groupDelay.values;
  chart_->setData(values.data(), static_cast<int32_t>(values.size()));
  plot()->update(false);
}

}  // namespace qv::gui
