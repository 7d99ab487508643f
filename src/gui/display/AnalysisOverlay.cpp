#include "gui/display/AnalysisOverlay.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/LinToLogTransformer.h"
#include "gui/Theme.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/SpectrumPlotView.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

// The x range of the transfer-function plots, so a frequency sits where it sits there.
double xMin() { return LinToLogTransformer::logFreqFromHz(8.0f); }
double xMax() { return LinToLogTransformer::logFreqFromHz(22000.0f); }
double xShownMin() { return LinToLogTransformer::logFreqFromHz(14.0f); }

}  // namespace

QString AnalysisOverlay::rgb(const QColor& c) {
  return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

AnalysisOverlay::AnalysisOverlay(QWidget* plotArea, const QString& name)
    : QWidget(plotArea), plotArea_(plotArea) {
  setObjectName(name + QStringLiteral("View"));
  setAttribute(Qt::WA_StyledBackground, true);
  // Opaque, so the transfer-function plots it covers are not painted at all.
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, theme::kWindowBackground);
  setPalette(palette);
  setStyleSheet(QStringLiteral("#%1Bar { background: %2; border-bottom: 1px solid %3; }"
                               "QLabel#smoothingCaption { color: %4; }")
                    .arg(name, rgb(mv::kBarBackground), rgb(mv::kBarLine), rgb(theme::kTextDim)));
  controlFont_.setPointSize(mv::kControlPointSize);

  bar_ = new QWidget(this);
  bar_->setObjectName(name + QStringLiteral("Bar"));
  bar_->setAttribute(Qt::WA_StyledBackground, true);

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
  plot_->setLabelsForSide(QVPlotController::frequencyLabels(), PlotSideBottom);
  setLevelRange(-1.0, 1.0, -1.0, 1.0);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(bar_);
  column->addWidget(plot_, 1);

  if (plotArea_) {
    plotArea_->installEventFilter(this);
    setGeometry(plotArea_->rect());
  }
}

AnalysisOverlay::~AnalysisOverlay() {
  if (plotArea_) plotArea_->removeEventFilter(this);
}

QLabel* AnalysisOverlay::caption(const QString& text) {
  auto* l = new QLabel(text, bar_);
  l->setFont(controlFont_);
  l->setObjectName(QStringLiteral("smoothingCaption"));  // the main view's dim captions
  return l;
}

QComboBox* AnalysisOverlay::combo(const QString& tip) {
  auto* c = new QComboBox(bar_);
  c->setFont(controlFont_);
  c->setFixedHeight(mv::kControlHeight);
  // Only a click gives it the keyboard, so Space, C and Delete stay the window's keys.
  c->setFocusPolicy(Qt::ClickFocus);
  c->setToolTip(tip);
  return c;
}

QPushButton* AnalysisOverlay::button(const QString& text, const QString& tip) {
  auto* b = new QPushButton(text, bar_);
  b->setFont(controlFont_);
  b->setFixedHeight(mv::kControlHeight);
  b->setFocusPolicy(Qt::NoFocus);
  b->setToolTip(tip);
  return b;
}

void AnalysisOverlay::setLevelRange(double min, double max, double shownMin, double shownMax) {
  plot_->setRangeMinXMaxXMinYMaxY(xMin(), xMax(), min, max);
  plot_->setVisibleRangeMinXMaxXMinYMaxY(xShownMin(), xMax(), shownMin, shownMax);
}

void AnalysisOverlay::addStyle(const QString& rules) { setStyleSheet(styleSheet() + rules); }

void AnalysisOverlay::cover(bool shown) {
  setVisible(shown);
  if (!shown) return;
  if (plotArea_) setGeometry(plotArea_->rect());
  raise();
}

bool AnalysisOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plotArea_ && event->type() == QEvent::Resize) setGeometry(plotArea_->rect());
  return QWidget::eventFilter(watched, event);
}

}  // namespace qv::gui
