#include "gui/display/SpectrogramViewController.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

#include "engine/SpectrogramHistory.h"
#include "gui/Theme.h"
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

}  // namespace

SpectrogramViewController::SpectrogramViewController(
    std::shared_ptr<session::MeasurementSession> session, QSettings& settings, QWidget* plotArea)
    : AnalysisOverlay(plotArea, QStringLiteral("spectrogram")),
      session_(std::move(session)),
      store_(settings),
      settings_(SpectrogramViewSettings::read(settings)) {
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

  auto* row = new QHBoxLayout(bar());
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

  // Down the picture runs time, not a level: no level labels at the sides.
  plot()->setScaleSideLabelsVisible(PlotSideLeft, false);
  plot()->setScaleSideLabelsVisible(PlotSideRight, false);
  cover(settings_.shown);
  apply();
}

SpectrogramViewController::~SpectrogramViewController() {
  session::AnalysisViews::Config c = session_->views().config();
  c.spectrogram.shown = false;
  session_->views().configure(c);
}

void SpectrogramViewController::setShown(bool shown) {
  if (shown == settings_.shown) return;
  settings_.shown = shown;
  cover(shown);
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
  if (chart_) plot()->deleteChart(chart_.get());
  const plot::XValuesSpan span{history.minLogFrequency(), history.maxLogFrequency(),
                               history.rows()};
  chart_ = plot()->addSpectrogramWithName("spectrogram", span, history.capacity());
  column_.assign(static_cast<size_t>(history.rows()), 0.0f);
  spl_ = spl;
  // The colours span the full y range.
  const double floor = spl ? kFloorSpl : kFloorDbfs;
  const double top = spl ? kTopSpl : kTopDbfs;
  plot()->setGridStepY(top - floor);
  setLevelRange(floor, top, floor, top);
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
  plot()->update(false);
}

}  // namespace qv::gui
