#include "gui/display/GroupDelayViewController.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

#include "engine/LinToLogTransformer.h"
#include "gui/Theme.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

constexpr const char* kShownKey = "QVGroupDelayShown";

QString rgb(const QColor& c) {
  return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

}  // namespace

GroupDelayViewController::GroupDelayViewController(
    std::shared_ptr<session::MeasurementSession> session, QSettings& settings, QWidget* plotArea)
    : QWidget(plotArea),
      session_(std::move(session)),
      store_(settings),
      plotArea_(plotArea),
      shown_(settings.value(QString::fromLatin1(kShownKey), false).toBool()) {
  setObjectName(QStringLiteral("groupDelayView"));
  setAttribute(Qt::WA_StyledBackground, true);
  // Opaque, so the transfer-function plots it covers are not painted at all.
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, theme::kWindowBackground);
  setPalette(palette);
  setStyleSheet(QStringLiteral("#groupDelayBar { background: %1; border-bottom: 1px solid %2; }"
                               "QLabel#smoothingCaption { color: %3; }")
                    .arg(rgb(mv::kBarBackground), rgb(mv::kBarLine), rgb(theme::kTextDim)));

  auto* bar = new QWidget(this);
  bar->setObjectName(QStringLiteral("groupDelayBar"));
  bar->setAttribute(Qt::WA_StyledBackground, true);
  QFont control;
  control.setPointSize(mv::kControlPointSize);
  note_ = new QLabel(tr("Group delay in ms, the delay in force included; gaps where the "
                        "coherence is below 50 %"),
                     bar);
  note_->setObjectName(QStringLiteral("smoothingCaption"));  // the main view's dim captions
  note_->setFont(control);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(mv::kMargin, 6, mv::kMargin, 6);
  row->addWidget(note_);
  row->addStretch(1);

  plot_ = new SpectrumPlotView(this);
  plot_->setBackgroundColor(theme::kPlotBackground);
  plot_->setChartsBackgroundColor(theme::kChartArea);
  plot_->setChartsBorderColor(theme::kChartBorder);
  plot_->setGridColor(theme::kGrid);
  plot_->setGridThickness(1.0);
  plot_->setScaleFontSize(theme::kPlotScaleFontSize);
  plot_->setScalesOverlaid(true);
  plot_->setScaleSideVisible(PlotSideTop, false);
  plot_->setGridStepX(0.3f);
  plot_->setGridStepY(2.0);
  plot_->setLabelsForSide(QVPlotController::frequencyLabels(), PlotSideBottom);
  const double xMin = LinToLogTransformer::logFreqFromHz(8.0f);
  const double xMax = LinToLogTransformer::logFreqFromHz(22000.0f);
  plot_->setRangeMinXMaxXMinYMaxY(xMin, xMax, -200.0, 1000.0);
  plot_->setVisibleRangeMinXMaxXMinYMaxY(LinToLogTransformer::logFreqFromHz(14.0f), xMax, -4.0,
                                         20.0);
  const LinToLogTransformer& axis = session_->axis();
  chart_ = plot_->addLineChartWithName("group delay",
                                       {axis.startFreqLog(), axis.stopFreqLog(), axis.bandCount()},
                                       theme::kRtaCurveThickness, theme::kLiveCurve);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(bar);
  column->addWidget(plot_, 1);

  if (plotArea_) {
    plotArea_->installEventFilter(this);
    setGeometry(plotArea_->rect());
  }
  setVisible(shown_);
  if (shown_) raise();
  apply();
}

GroupDelayViewController::~GroupDelayViewController() {
  if (plotArea_) plotArea_->removeEventFilter(this);
  session::AnalysisViews::Config c = session_->views().config();
  c.groupDelay.shown = false;
  session_->views().configure(c);
}

void GroupDelayViewController::setShown(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  setVisible(shown);
  if (shown) {
    if (plotArea_) setGeometry(plotArea_->rect());
    raise();
  }
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
  plot_->update(false);
}

bool GroupDelayViewController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plotArea_ && event->type() == QEvent::Resize) setGeometry(plotArea_->rect());
  return QWidget::eventFilter(watched, event);
}

}  // namespace qv::gui
