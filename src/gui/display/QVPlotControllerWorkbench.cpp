// The plot controller's workbench: curves relative to a trace, a target's tolerance band
// behind the curves, the legend, and the width traces are drawn at.
#include <QObject>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "curves/BandAxis.h"
#include "gui/Theme.h"
#include "gui/app/AppSettings.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/TraceLegend.h"
#include "gui/traces/TraceDisplayName.h"
#include "platform/Log.h"
#include "traces/TraceManager.h"
#include "traces/TraceWorkbench.h"

namespace qv::gui {
namespace {

constexpr const char* kTargetBandChart = "target band";
constexpr const char* kTargetLevelChart = "target level";

QColor qcolor(const plot::Color& c) { return QColor::fromRgbF(c.red, c.green, c.blue, c.alpha); }

// "+2.0 dB, 1.25 ms" of the offsets a trace is drawn with; empty without any.
QString offsetsText(const TraceShot& shot) {
  QStringList parts;
  if (shot.offsetDb != 0.0) parts << QString::asprintf("%+.1f dB", shot.offsetDb);
  if (shot.offsetDelayMs != 0.0) parts << QString::asprintf("%+.2f ms", shot.offsetDelayMs);
  return parts.join(QStringLiteral(", "));
}

}  // namespace

float QVPlotController::traceThickness() const {
  return std::max(settings_.capturedTraceThickness(),
                  settings_.liveTraceThickness() + theme::kTraceOverLiveWidth);
}

void QVPlotController::setCompareReference(TraceShotRef reference) {
  std::shared_ptr<const curves::BandCurves> curves;
  if (reference) {
    auto drawn = TraceWorkbench::displayedCurvesOf(*reference);
    if (!drawn) {
      log("Error reading trace data");
      reference = nullptr;
    } else {
      curves = std::make_shared<const curves::BandCurves>(std::move(*drawn));
    }
  }
  reference_ = std::move(reference);
  session_->setCompareReference(std::move(curves));
  redrawVisibleTraces();
  drawTarget();
  updateLegend();
}

void QVPlotController::setMicCalibration(
    std::shared_ptr<const curves::MicCalibration> calibration) {
  session_->setMicCalibration(std::move(calibration));
  updateLegend();
}

void QVPlotController::redrawVisibleTraces() {
  const TraceShotResults list = traces_.allTraceShots();
  // From the bottom of the list up, so that its first trace ends up topmost.
  for (auto it = list.end(); it != list.begin();) {
    --it;
    if ((*it)->visible) showTraceForShot(**it);
  }
  liveTracesToFront();
}

void QVPlotController::setTarget(std::optional<curves::TargetCurve> target) {
  target_ = std::move(target);
  drawTarget();
  updateLegend();
}

void QVPlotController::drawTarget() {
  SpectrumPlotView* mag = magPlotView_;
  if (!mag) return;
  mag->deleteChartsWithID(kTargetBandChart);
  mag->deleteChartsWithID(kTargetLevelChart);
  // Relative curves are not held against an absolute target.
  if (target_ && !reference_) {
    const plot::XValuesSpan span = modelSpan();
    const curves::TargetBands bands =
        target_->onAxis(curves::BandAxis(static_cast<size_t>(span.count)));
    // The band's values: its lower edges, then its upper ones.
    std::vector<float> edges(bands.lower);
    edges.insert(edges.end(), bands.upper.begin(), bands.upper.end());
    plot::ChartList& charts = mag->chartList();
    const auto band = charts.addChart(plot::kChartFilledLine, kTargetBandChart, span);
    const plot::ColorBytes fill = plot::toColorBytes(theme::kTargetBand);
    band->setColor(fill.red, fill.green, fill.blue, fill.alpha);
    band->setData(edges.data(), static_cast<int32_t>(edges.size()));
    const auto level = mag->addLineChartWithName(kTargetLevelChart, span,
                                                 theme::kTargetLevelThickness, theme::kTargetLevel);
    level->setXValues(span.count, span.firstX, span.lastX);
    level->setData(bands.level.data(), static_cast<int32_t>(bands.level.size()));
    // Behind everything: the band lowest, its level line above it.
    charts.moveToBottom(level.get());
    charts.moveToBottom(band.get());
  }
  mag->update();
}

void QVPlotController::updateLegend() {
  if (!legend_) return;
  std::vector<TraceLegend::Entry> entries;
  QString title;
  const TraceShotResults list = traces_.allTraceShots();
  // The names the trace panel shows: "TF 3 — 14:02" in the list is "TF 3 — 14:02" here.
  const auto nameOf = [&list](const TraceShot& shot) {
    return TraceDisplayName::titleInList(shot, list);
  };
  bool tracesShown = false;
  for (const TraceShotRef& shot : list) tracesShown = tracesShown || shot->visible;
  QStringList titles;
  if (const auto& calibration = session_->micCalibration())
    titles << QObject::tr("Mic: %1").arg(QString::fromStdString(calibration->name()));
  if (reference_) {
    QString relative = QObject::tr("Relative to %1").arg(nameOf(*reference_));
    if (const QString o = offsetsText(*reference_); !o.isEmpty()) relative += " (" + o + ")";
    titles << relative;
  }
  title = titles.join(QStringLiteral(" · "));
  if (tracesShown || reference_ || (target_ && !reference_)) {
    entries.push_back({qcolor(theme::kLiveCurve),
                       reference_ ? QObject::tr("Live, relative") : QObject::tr("Live")});
  }
  for (const TraceShotRef& shot : list) {
    if (!shot->visible) continue;
    QColor color = qcolor(theme::kLiveCurve);
    if (const auto c = traces_.colorForShot(*shot))
      color = QColor::fromRgbF(c->red, c->green, c->blue);
    QString text = nameOf(*shot);
    if (const QString o = offsetsText(*shot); !o.isEmpty()) text += " (" + o + ")";
    if (reference_ && shot->id == reference_->id) text += QObject::tr(" — reference");
    entries.push_back({color, text, false});
  }
  if (target_ && !reference_)
    entries.push_back({qcolor(theme::kTargetLevel), QObject::tr("Target"), true});
  legend_->setContents(title, std::move(entries));
}

}  // namespace qv::gui
