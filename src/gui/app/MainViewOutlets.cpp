#include "gui/app/MainViewOutlets.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "delay/DelayPolicy.h"
#include "gui/Theme.h"
#include "gui/app/DelayControls.h"
#include "gui/app/QVClickableLabel.h"
#include "gui/app/QVDelayStepper.h"
#include "gui/display/QVLevelMeterView.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

// The notice line above the plots: amber while something is wrong, quiet once it is put
// right; the dropout indicator in the read-out bar once audio was lost.
const QColor kNoticeProblem{120, 62, 0};
const QColor kNoticeFine{30, 60, 40};
const QColor kLossText{255, 190, 110};

QString rgb(const QColor& c) {
  return QStringLiteral("rgba(%1,%2,%3,%4)")
      .arg(c.red())
      .arg(c.green())
      .arg(c.blue())
      .arg(c.alpha());
}

// Dark bars, quiet buttons, toggles lit in the accent colour while on.
QString styleSheet() {
  return QStringLiteral(
             "#mainTopView, #mainBottomView { background: %1; }"
             "#mainTopView { border-bottom: 1px solid %2; }"
             "#mainBottomView { border-top: 1px solid %2; }"
             "#mainPlotBaseView { background: %3; }"
             "QLabel { color: %4; background: transparent; }"
             "QLabel#levelLegend { color: %5; }"
             "QLabel#smoothingCaption, QLabel#delayUnit, QLabel#smoothingLabel,"
             "  QLabel#delayDetailLabel { color: %5; }"
             "QLabel#topLabel { color: %6; }"
             "QLabel#cursorLabel { color: %7; }"
             "QLabel#inputLabel:hover { color: %8; }"
             "QPushButton, QToolButton { color: %4; background: %9; border: 1px solid %10;"
             "  border-radius: 4px; padding: 2px 10px; }"
             "QToolButton { padding: 0px; }"
             "QPushButton:hover, QToolButton:hover { background: %11; }"
             "QPushButton:checked { background: %12; color: %13; border-color: %12; }"
             "QPushButton:disabled, QToolButton:disabled { color: %14; }"
             "QLineEdit { color: %4; background: %15; border: 1px solid %10; border-radius: 3px;"
             "  padding: 1px 4px; selection-background-color: %12; }"
             "QLineEdit:disabled { color: %14; }"
             "QLineEdit[refused=\"true\"] { border-color: %8; }"
             "QComboBox { color: %4; background: %9; border: 1px solid %10; border-radius: 4px;"
             "  padding: 1px 8px; }"
             "QComboBox QAbstractItemView { color: %4; background: %9;"
             "  selection-background-color: %12; selection-color: %13; }")
      .arg(rgb(mv::kBarBackground), rgb(mv::kBarLine), rgb(theme::kWindowBackground),
           rgb(theme::kText), rgb(theme::kTextDim), rgb(mv::kReadout), rgb(mv::kCursorReadout),
           rgb(mv::kDeviceLabelHover), rgb(mv::kButton))
      .arg(rgb(mv::kButtonBorder), rgb(mv::kButtonHover), rgb(theme::kAccent),
           rgb(mv::kButtonLitText), rgb(mv::kFieldDisabledText), rgb(mv::kFieldBackground));
}

QPushButton* makeButton(QWidget* parent, const QString& text, const char* name, bool toggle,
                        const QString& tip) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setCheckable(toggle);
  b->setFixedHeight(mv::kControlHeight);
  b->setMinimumWidth(mv::kToggleWidth);
  // Buttons never keep the keyboard, so Space stays the start/pause key.
  b->setFocusPolicy(Qt::NoFocus);
  b->setToolTip(tip);
  return b;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QFont& font) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setFont(font);
  return l;
}

QFont controlFont() {
  QFont f;
  f.setPointSize(mv::kControlPointSize);
  return f;
}

// Arranges the control bar's grid for the width it has: one band of two rows where
// everything fits side by side, else three rows (the read-out, then the delay controls, then
// smoothing and the commands), the bar taller by one row. Only the height changes with the
// arrangement, so the choice never feeds back into the width it is made for.
class TopBarArranger final : public QObject {
 public:
  TopBarArranger(QWidget* bar, QHBoxLayout* top, QGridLayout* grid, QLayout* readout,
                 const QLabel* detail, QLayout* delayRow, QLayout* smoothingRow,
                 QLayout* commandRow)
      : QObject(bar),
        bar_(bar),
        top_(top),
        grid_(grid),
        readout_(readout),
        delayRow_(delayRow),
        smoothingRow_(smoothingRow),
        commandRow_(commandRow) {
    bar->installEventFilter(this);
    // The bar asks for no more width than the three rows need, with room for the finder's
    // usual read-out (a longer one is cut at the bar's end; its tooltip explains it).
    bar->setMinimumWidth(
        fixedWidth() + std::max({readout_->minimumSize().width(), typicalDetailWidth(*detail),
                                 delayRow_->minimumSize().width(),
                                 smoothingRow_->minimumSize().width() + grid_->horizontalSpacing() +
                                     commandRow_->minimumSize().width()}));
    arrange(false);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    // A new delay read-out may be wider than the last: look again when the bar re-lays out.
    if (watched == bar_ &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
      arrange(bar_->width() < wideWidth());
    return false;
  }

 private:
  // The delay read-out of a delay of a metre that the finder found and inserted, at 48 kHz.
  static int typicalDetailWidth(const QLabel& detail) {
    session::DelayStatus status;
    status.mode = DelayPolicy::Mode::Auto;
    status.haveReading = true;
    status.estimate.state = DelayState::Found;
    status.estimate.rate = 48000;
    status.estimate.delaySamples = 3.01 * 48.0;  // the delay in force: no "(… ms)"
    status.estimate.peakToNext = 2.5;
    const QString text = delayDetailText(3.01, 48000, 20.0, status);
    return QFontMetrics(detail.font()).horizontalAdvance(text) + 4;
  }

  // The start button, the meter and the spacing around them.
  int fixedWidth() const {
    const QMargins m = top_->contentsMargins();
    int width = m.left() + m.right();
    for (int i = 0; i < top_->count(); ++i) {
      QLayoutItem* item = top_->itemAt(i);
      if (item->widget() != nullptr) width += item->widget()->width() + top_->spacing();
    }
    return width;
  }

  int wideWidth() const {
    const int first = std::max(readout_->sizeHint().width(), smoothingRow_->minimumSize().width());
    const int second =
        std::max(delayRow_->minimumSize().width(), commandRow_->minimumSize().width());
    return fixedWidth() + first + grid_->horizontalSpacing() + second;
  }

  void arrange(bool compact) {
    if (compact == compact_ && grid_->count() > 0) return;
    compact_ = compact;
    for (QLayout* l : {readout_, delayRow_, smoothingRow_, commandRow_}) grid_->removeItem(l);
    if (compact) {
      grid_->addLayout(readout_, 0, 0, 1, 2, Qt::AlignVCenter | Qt::AlignLeft);
      grid_->addLayout(delayRow_, 1, 0, 1, 2);
      grid_->addLayout(smoothingRow_, 2, 0);
      grid_->addLayout(commandRow_, 2, 1);
    } else {
      grid_->addLayout(readout_, 0, 0, Qt::AlignVCenter | Qt::AlignLeft);
      grid_->addLayout(delayRow_, 0, 1);
      grid_->addLayout(smoothingRow_, 1, 0);
      grid_->addLayout(commandRow_, 1, 1);
    }
    bar_->setFixedHeight(compact ? mv::kCompactTopBarHeight : mv::kTopBarHeight);
  }

  QWidget* bar_;
  QHBoxLayout* top_;
  QGridLayout* grid_;
  QLayout* readout_;
  QLayout* delayRow_;
  QLayout* smoothingRow_;
  QLayout* commandRow_;
  bool compact_ = false;
};

}  // namespace

QString startButtonText(bool running) {
  return running ? QStringLiteral("\u2016 Pause") : QStringLiteral("\u25B6 Start");
}

void showNotice(QLabel* noticeLabel, const QString& text, bool problem) {
  noticeLabel->setText(text);
  noticeLabel->setStyleSheet(
      QStringLiteral("QLabel#noticeLabel { color: %1; background: %2;"
                     " padding: 4px %3px; }")
          .arg(rgb(theme::kText), rgb(problem ? kNoticeProblem : kNoticeFine))
          .arg(mv::kMargin));
  noticeLabel->setVisible(!text.isEmpty());
}

MainViewOutlets buildMainViewOutlets(QWidget* view) {
  MainViewOutlets o;
  view->setStyleSheet(styleSheet());
  view->setAutoFillBackground(true);
  QPalette palette = view->palette();
  palette.setColor(QPalette::Window, theme::kWindowBackground);
  view->setPalette(palette);

  // ---- control bar ----
  o.topView = new QWidget(view);
  o.topView->setObjectName(QStringLiteral("mainTopView"));
  o.topView->setAttribute(Qt::WA_StyledBackground, true);

  o.startButton = makeButton(o.topView, startButtonText(false), "startButton", true,
                             QObject::tr("Start or pause the measurement (Space)"));
  o.startButton->setFixedSize(mv::kStartButtonWidth, mv::kStartButtonHeight);
  QFont startFont = controlFont();
  startFont.setPointSize(mv::kControlPointSize + 1);
  startFont.setBold(true);
  o.startButton->setFont(startFont);

  // The meter's rows sit at 5/12 and 2/3 of its height; the legend labels follow them.
  auto* meterBox = new QWidget(o.topView);
  meterBox->setFixedSize(mv::kLevelLegendWidth + 4 + mv::kLevelMeterWidth, mv::kLevelMeterHeight);
  QFont legendFont = controlFont();
  legendFont.setPointSize(mv::kLegendPointSize);
  o.levelLegendTop = makeLabel(meterBox, "levelLegend", legendFont);
  o.levelLegendBottom = makeLabel(meterBox, "levelLegend", legendFont);
  const int h = mv::kLevelMeterHeight;
  const int rowHeight = 2 * h / 3 - 5 * h / 12;  // the rows' distance: labels side by side
  for (auto [label, y] :
       {std::pair{o.levelLegendTop, 5 * h / 12}, std::pair{o.levelLegendBottom, 2 * h / 3}}) {
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(0, y - rowHeight / 2, mv::kLevelLegendWidth, rowHeight);
  }
  o.levelMeterView = new QVLevelMeterView(meterBox);
  o.levelMeterView->setObjectName(QStringLiteral("levelMeterView"));
  o.levelMeterView->setBackdrop(mv::kBarBackground);  // the control bar's
  o.levelMeterView->setGeometry(mv::kLevelLegendWidth + 4, 0, mv::kLevelMeterWidth, h);

  o.topLabel = makeLabel(o.topView, "topLabel", theme::tabularFont(mv::kDelayReadoutPointSize));
  o.topLabel->setMinimumWidth(330);

  o.delayStepper = new QVDelayStepper(o.topView);
  o.delayStepper->setStep(mv::kDelayStep);
  o.delayStepper->setLimits(-mv::kDelayLimit, mv::kDelayLimit);
  for (QToolButton* b : {o.delayStepper->downButton(), o.delayStepper->upButton()})
    b->setFixedSize(mv::kStepButtonWidth, mv::kControlHeight);
  o.delayTextField = new QLineEdit(o.topView);
  o.delayTextField->setObjectName(QStringLiteral("delayTextField"));
  o.delayTextField->setFont(theme::tabularFont(mv::kControlPointSize + 1));
  o.delayTextField->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  o.delayTextField->setFixedSize(mv::kDelayFieldWidth, mv::kControlHeight);
  // Only what a number is written with gets in (a shortcut key typed there stays out of
  // it); every such text is acceptable to the field, so that the view sees each entry and
  // refuses one out of range visibly rather than the field swallowing it without a word.
  o.delayTextField->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[-+]?[0-9]*[.]?[0-9]*")), o.delayTextField));
  // Only a click gives it the keyboard: as the window's first focus it would swallow the
  // single-key shortcuts (Space, C, Delete) from the start.
  o.delayTextField->setFocusPolicy(Qt::ClickFocus);
  o.delayTextField->setToolTip(
      QObject::tr("Delay between the channels in milliseconds, -3000 to 3000 in steps of 0.01; "
                  "positive holds back the reference"));
  auto* delayUnit = makeLabel(o.topView, "delayUnit", controlFont());
  delayUnit->setText(QStringLiteral("ms"));
  o.autoDelayButton = makeButton(o.topView, QStringLiteral("Auto"), "autoDelayButton", true,
                                 QObject::tr("Find and insert the delay automatically"));
  const DelayControlOutlets delay = buildDelayControls(o.topView);
  o.trackButton = delay.trackButton;
  o.finderBandCombo = delay.finderBandCombo;
  o.delayDetailLabel = delay.detailLabel;

  auto* smoothingCaption = makeLabel(o.topView, "smoothingCaption", controlFont());
  smoothingCaption->setText(QObject::tr("Smoothing"));
  o.smoothingCombo = new QComboBox(o.topView);
  o.smoothingCombo->setObjectName(QStringLiteral("smoothingCombo"));
  o.smoothingCombo->setFixedSize(mv::kSmoothingComboWidth, mv::kControlHeight);
  o.smoothingCombo->setFocusPolicy(Qt::ClickFocus);
  o.smoothingCombo->setToolTip(QObject::tr("Fractional-octave smoothing of the curves"));
  o.generatorButton = makeButton(o.topView, QObject::tr("Noise"), "generatorButton", true,
                                 QObject::tr("Play pink noise on the output device"));
  o.captureButton = makeButton(o.topView, QObject::tr("Capture"), "captureButton", false,
                               QObject::tr("Capture the live curves as a trace (C)"));
  o.deleteButton = makeButton(o.topView, QObject::tr("Delete"), "deleteButton", false,
                              QObject::tr("Delete the selected traces (Delete)"));

  auto* delayRow = new QHBoxLayout;
  delayRow->setSpacing(4);
  delayRow->addWidget(o.delayStepper->downButton());
  delayRow->addWidget(o.delayTextField);
  delayRow->addWidget(o.delayStepper->upButton());
  delayRow->addWidget(delayUnit);
  delayRow->addSpacing(mv::kSpacing);
  delayRow->addWidget(o.autoDelayButton);
  delayRow->addWidget(o.trackButton);
  delayRow->addWidget(o.finderBandCombo);
  delayRow->addStretch(1);

  auto* commandRow = new QHBoxLayout;
  commandRow->setSpacing(mv::kSpacing);
  commandRow->addWidget(o.generatorButton);
  commandRow->addWidget(o.captureButton);
  commandRow->addWidget(o.deleteButton);
  commandRow->addStretch(1);

  auto* smoothingRow = new QHBoxLayout;
  smoothingRow->setSpacing(6);
  smoothingRow->addWidget(smoothingCaption);
  smoothingRow->addWidget(o.smoothingCombo);
  smoothingRow->addStretch(1);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(mv::kSpacing * 2);
  grid->setVerticalSpacing(6);
  auto* readout = new QVBoxLayout;
  readout->setSpacing(0);
  readout->addWidget(o.topLabel);
  readout->addWidget(o.delayDetailLabel);
  // Spare width goes to the right, so the delay controls stay next to their readout.
  grid->setColumnStretch(1, 1);

  auto* top = new QHBoxLayout(o.topView);
  top->setContentsMargins(mv::kMargin, 0, mv::kMargin, 0);
  top->setSpacing(mv::kSpacing * 2);
  top->addWidget(o.startButton, 0, Qt::AlignVCenter);
  top->addWidget(meterBox, 0, Qt::AlignVCenter);
  top->addLayout(grid, 1);
  new TopBarArranger(o.topView, top, grid, readout, o.delayDetailLabel, delayRow, smoothingRow,
                     commandRow);

  // ---- plots ----
  o.plotBaseView = new QWidget(view);
  o.plotBaseView->setObjectName(QStringLiteral("mainPlotBaseView"));
  o.plotBaseView->setAttribute(Qt::WA_StyledBackground, true);
  o.plotBaseView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  o.plotBaseView->setMinimumHeight(mv::kPlotsMinimumHeight);

  // ---- read-out bar ----
  o.bottomView = new QWidget(view);
  o.bottomView->setObjectName(QStringLiteral("mainBottomView"));
  o.bottomView->setAttribute(Qt::WA_StyledBackground, true);
  o.bottomView->setFixedHeight(mv::kBottomBarHeight);
  o.cursorLabel =
      makeLabel(o.bottomView, "cursorLabel", theme::tabularFont(mv::kCursorReadoutPointSize));
  o.smoothingLabel = makeLabel(o.bottomView, "smoothingLabel", controlFont());
  o.smoothingLabel->setToolTip(QObject::tr("Smoothing"));
  o.inputLabel = new QVClickableLabel(o.bottomView);
  o.inputLabel->setObjectName(QStringLiteral("inputLabel"));
  o.inputLabel->setFont(controlFont());
  o.inputLabel->setToolTip(QObject::tr("Input device; click to open the preferences"));
  auto* bottom = new QHBoxLayout(o.bottomView);
  bottom->setContentsMargins(mv::kMargin, 0, mv::kMargin, 0);
  bottom->setSpacing(mv::kSpacing * 2);
  bottom->addWidget(o.cursorLabel);
  bottom->addStretch(1);
  o.lossLabel = makeLabel(o.bottomView, "lossLabel", controlFont());
  o.lossLabel->setStyleSheet(QStringLiteral("color: %1;").arg(rgb(kLossText)));
  o.lossLabel->hide();
  bottom->addWidget(o.lossLabel);
  bottom->addWidget(o.smoothingLabel);
  bottom->addWidget(o.inputLabel);

  o.noticeLabel = makeLabel(view, "noticeLabel", controlFont());
  o.noticeLabel->setWordWrap(true);
  o.noticeLabel->setAttribute(Qt::WA_StyledBackground, true);
  o.noticeLabel->hide();

  auto* column = new QVBoxLayout(view);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(o.topView);
  column->addWidget(o.noticeLabel);
  column->addWidget(o.plotBaseView, 1);
  column->addWidget(o.bottomView);
  return o;
}

}  // namespace qv::gui
