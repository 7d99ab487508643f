#include "gui/display/SpectrogramViewController.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/LinToLogTransformer.h"
#include "engine/SpectrogramHistory.h"
#include "gui/Theme.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

QString rgb(const QColor& c) {
  return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

}  // namespace

SpectrogramViewController::SpectrogramViewController(
    std::shared_ptr<session::MeasurementSession> session, QSettings& settings, QWidget* plotArea)
    : QWidget(plotArea),
      session_(std::move(session)),
      store_(settings),
      settings_(SpectrogramViewSettings::read(settings)),
      plotArea_(plotArea) {
  setObjectName(QStringLiteral("spectrogramView"));
  setAttribute(Qt::WA_StyledBackground, true);
  // Opaque, so the transfer-function plots it covers are not painted at all.
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, theme::kWindowBackground);
  setPalette(palette);
  setStyleSheet(QStringLiteral("#spectrogramBar { background: %1; border-bottom: 1px solid %2; }"
                               "QLabel#smoothingCaption { color: %3; }")
                    .arg(rgb(mv::kBarBackground), rgb(mv::kBarLine), rgb(theme::kTextDim)));

  auto* bar = new QWidget(this);
  bar->setObjectName(QStringLiteral("spectrogramBar"));
  bar->setAttribute(Qt::WA_StyledBackground, true);
  QFont control;
  control.setPointSize(mv::kControlPointSize);
  const auto caption = [&](const QString& text) {
    auto* l = new QLabel(text, bar);
    l->setFont(control);
    l->setObjectName(QStringLiteral("smoothingCaption"));  // the main view's dim captions
    return l;
  };
  const auto combo = [&](const QString& tip) {
    auto* c = new QComboBox(bar);
    c->setFont(control);
    c->setFixedHeight(mv::kControlHeight);
    c->setFocusPolicy(Qt::ClickFocus);
    c->setToolTip(tip);
    return c;
  };
  resolutionCombo_ = combo(tr("Frequency resolution, bands per octave"));
  for (int r : SpectrogramViewSettings::kResolutionChoices)
    resolutionCombo_->addItem(QStringLiteral("1/%1").arg(r), r);
  secondsCombo_ = combo(tr("How far back the picture reaches"));
  for (int s : SpectrogramViewSettings::kSecondsChoices)
    secondsCombo_->addItem(QStringLiteral("%1 s").arg(s), s);
  scaleLabel_ = caption(QString());
  resolutionCombo_->setCurrentIndex(resolutionCombo_->findData(settings_.octResolution));
  secondsCombo_->setCurrentIndex(secondsCombo_->findData(settings_.historySeconds));
  connect(resolutionCombo_, &QComboBox::activated, this,
          [this](int i) { setOctResolution(resolutionCombo_->itemData(i).toInt()); });
  connect(secondsCombo_, &QComboBox::activated, this,
          [this](int i) { setHistorySeconds(secondsCombo_->itemData(i).toInt()); });

  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(mv::kMargin, 6, mv::kMargin, 6);
  row->setSpacing(6);
  row->addWidget(caption(tr("Measurement input")));
  row->addSpacing(mv::kSpacing * 2);
  row->addWidget(caption(tr("Resolution")));
  row->addWidget(resolutionCombo_);
  row->addSpacing(mv::kSpacing);
  row->addWidget(caption(tr("Length")));
  row->addWidget(secondsCombo_);
  row->addStretch(1);
  row->addWidget(scaleLabel_);

  plot_ = new SpectrumPlotView(this);
  plot_->setBackgroundColor(theme::kPlotBackground);
  plot_->setChartsBackgroundColor(theme::kChartArea);
  plot_->setChartsBorderColor(theme::kChartBorder);
  plot_->setGridColor(theme::kGrid);
  plot_->setGridThickness(1.0);
  plot_->setScaleFontSize(theme::kPlotScaleFontSize);
  plot_->setScalesOverlaid(true);
  plot_->setScaleSideVisible(PlotSideTop, false);
  // Down the picture runs time, not a level: no level labels at the sides.
  plot_->setScaleSideLabelsVisible(PlotSideLeft, false);
  plot_->setScaleSideLabelsVisible(PlotSideRight, false);
  plot_->setGridStepX(0.3f);
  plot_->setLabelsForSide(QVPlotController::frequencyLabels(), PlotSideBottom);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(bar);
  column->addWidget(plot_, 1);

  if (plotArea_) {
    plotArea_->installEventFilter(this);
    setGeometry(plotArea_->rect());
  }
  setVisible(settings_.shown);
  if (settings_.shown) raise();
  apply();
}

SpectrogramViewController::~SpectrogramViewController() {
  if (plotArea_) plotArea_->removeEventFilter(this);
  session::AnalysisViews::Config c = session_->views().config();
  c.spectrogram.shown = false;
  session_->views().configure(c);
}

void SpectrogramViewController::setShown(bool shown) {
  if (shown == settings_.shown) return;
  settings_.shown = shown;
  setVisible(shown);
  if (shown) {
    if (plotArea_) setGeometry(plotArea_->rect());
    raise();
  }
  apply();
}

void SpectrogramViewController::setOctResolution(int resolution) {
  settings_.octResolution = resolution;
  apply();
}

void SpectrogramViewController::setHistorySeconds(int seconds) {
  settings_.historySeconds = seconds;
  apply();
}

void SpectrogramViewController::apply() {
  session::AnalysisViews::Config c = session_->views().config();
  c.spectrogram.shown = settings_.shown;
  c.spectrogram.settings.octResolution = settings_.octResolution;
  c.spectrogram.settings.historySeconds = settings_.historySeconds;
  c.spectrogram.settings.splUnits = true;
  session_->views().configure(c);
  settings_.write(store_);
}

void SpectrogramViewController::makeChart(const SpectrogramHistory& history, bool spl) {
  if (chart_) plot_->deleteChart(chart_.get());
  const plot::XValuesSpan span{history.minLogFrequency(), history.maxLogFrequency(),
                               history.rows()};
  chart_ = plot_->addSpectrogramWithName("spectrogram", span, history.capacity());
  column_.assign(static_cast<size_t>(history.rows()), 0.0f);
  spl_ = spl;
  // The colours span the full y range; the x range is the one of the other views.
  const double floor = spl ? kFloorSpl : kFloorDbfs;
  const double top = spl ? kTopSpl : kTopDbfs;
  const double xMin = LinToLogTransformer::logFreqFromHz(8.0f);
  const double xMax = LinToLogTransformer::logFreqFromHz(22000.0f);
  plot_->setGridStepY(top - floor);
  plot_->setRangeMinXMaxXMinYMaxY(xMin, xMax, floor, top);
  plot_->setVisibleRangeMinXMaxXMinYMaxY(LinToLogTransformer::logFreqFromHz(14.0f), xMax, floor,
                                         top);
  scaleLabel_->setText(tr("Colour: %1 \u2026 %2 %3; the newest at the top, %4 s down")
                           .arg(floor)
                           .arg(top)
                           .arg(spl ? QStringLiteral("dB SPL") : QStringLiteral("dBFS"))
                           .arg(settings_.historySeconds));
}

void SpectrogramViewController::refresh() {
  if (!settings_.shown) return;
  const auto snapshot = session_->views().latest();
  if (!snapshot || !snapshot->spectrogram.shown || !snapshot->spectrogram.history) return;
  const auto& history = snapshot->spectrogram.history;
  if (history != history_ || snapshot->spectrogram.spl != spl_ || !chart_) {
    history_ = history;
    makeChart(*history, snapshot->spectrogram.spl);
    nextColumn_ = 0;
  }
  const uint64_t added = history->columnCount();
  if (added <= nextColumn_) return;
  // The newest column only: the plot draws one new row per frame it paints.
  const SpectrogramHistory::Copied copied =
      history->copyColumns(std::max(nextColumn_, added - 1), column_.data(), 1);
  if (copied.count < 1) return;
  nextColumn_ = copied.first + 1;
  chart_->setData(column_.data(), history->rows());
  plot_->update(false);
}

bool SpectrogramViewController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plotArea_ && event->type() == QEvent::Resize) setGeometry(plotArea_->rect());
  return QWidget::eventFilter(watched, event);
}

}  // namespace qv::gui
