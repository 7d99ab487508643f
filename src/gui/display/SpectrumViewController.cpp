#include "gui/display/SpectrumViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "gui/Theme.h"
#include "gui/display/SpectrumPlotView.h"
#include "session/AnalysisViews.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

// Where silence goes: below every scale, so the curve drops out of sight.
constexpr float kBelowScale = -400.0f;
// The levels shown at first in either unit; a room's noise to a loud concert in dB SPL.
constexpr double kDbfsScaleMin = -100.0, kDbfsScaleMax = 10.0;
constexpr double kSplScaleMin = 20.0, kSplScaleMax = 130.0;

QString averagingLabel(double seconds) {
  if (seconds <= 0.0) return QObject::tr("Infinite");
  if (seconds < 1.0) return QStringLiteral("%1 ms").arg(std::lround(seconds * 1000.0));
  return QStringLiteral("%1 s").arg(seconds);
}

QString levelText(const SoundLevelMeter::Reading& r, Weighting weighting) {
  const QString unit = QStringLiteral("dB(%1) %2")
                           .arg(QString::fromLatin1(FrequencyWeighting::name(weighting)),
                                r.splUnits ? QStringLiteral("SPL") : QStringLiteral("FS"));
  const auto value = [](double db) {
    return std::isfinite(db) ? QString::asprintf("%5.1f", db) : QStringLiteral("  -  ");
  };
  return QStringLiteral("%1 %2   Leq %3 (%4 s)   Max %5")
      .arg(value(r.level), unit, value(r.leq))
      .arg(std::lround(r.leqSeconds))
      .arg(value(r.maximum));
}

}  // namespace

SpectrumViewController::SpectrumViewController(std::shared_ptr<session::MeasurementSession> session,
                                               QSettings& settings, QWidget* plotArea)
    : AnalysisOverlay(plotArea, QStringLiteral("spectrum")),
      session_(std::move(session)),
      store_(settings),
      settings_(SpectrumViewSettings::read(settings)) {
  buffer_.resize(session::ViewsSnapshot::kMaxRtaPoints);
  buildControls();
  setupPlot();
  cover(settings_.shown);
  apply();
}

SpectrumViewController::~SpectrumViewController() {
  session::AnalysisViews::Config c = session_->views().config();
  c.rta.shown = false;
  c.level.shown = false;
  session_->views().configure(c);
}

void SpectrumViewController::buildControls() {
  addStyle(QStringLiteral("QLabel#splLevel { color: %1; }"
                          "QCheckBox, QDoubleSpinBox { color: %2; }"
                          "QDoubleSpinBox { background: %3; border: 1px solid %4;"
                          "  border-radius: 3px; padding: 1px 4px; }")
               .arg(rgb(mv::kReadout), rgb(theme::kText), rgb(mv::kFieldBackground),
                    rgb(mv::kButtonBorder)));
  QWidget* bar = this->bar();
  const QFont& control = controlFont();

  levelLabel_ = new QLabel(bar);
  levelLabel_->setObjectName(QStringLiteral("splLevel"));
  levelLabel_->setFont(theme::tabularFont(mv::kDelayReadoutPointSize));
  levelLabel_->setToolTip(tr("Level of the measurement input: now, Leq since reset, maximum"));

  bandsCombo_ = combo(tr("Bands per octave"));
  for (int b : SpectrumViewSettings::kBandChoices)
    bandsCombo_->addItem(b == 1 ? QStringLiteral("1/1") : QStringLiteral("1/%1").arg(b), b);
  weightingCombo_ = combo(tr("Frequency weighting of the spectrum and the level"));
  for (Weighting w : {Weighting::Z, Weighting::A, Weighting::C})
    weightingCombo_->addItem(QString::fromLatin1(FrequencyWeighting::name(w)), static_cast<int>(w));
  averagingCombo_ = combo(tr("Averaging time of the spectrum"));
  for (double s : SpectrumViewSettings::kAveragingSeconds)
    averagingCombo_->addItem(averagingLabel(s), s);
  splCheck_ = new QCheckBox(tr("dB SPL"), bar);
  splCheck_->setFont(control);
  splCheck_->setFocusPolicy(Qt::NoFocus);
  splCheck_->setToolTip(tr("Read calibrated inputs in dB SPL"));
  auto* peaks = button(tr("Reset Peaks"), tr("Forget the held peaks"));
  auto* leq = button(tr("Reset Leq"), tr("Start a new Leq interval"));
  calibratorField_ = new QDoubleSpinBox(bar);
  calibratorField_->setFont(control);
  calibratorField_->setRange(60.0, 140.0);
  calibratorField_->setDecimals(1);
  calibratorField_->setSuffix(QStringLiteral(" dB"));
  calibratorField_->setFixedHeight(mv::kControlHeight);
  // Only a click gives it the keyboard, so Space, C and Delete stay the window's keys.
  calibratorField_->setFocusPolicy(Qt::ClickFocus);
  calibratorField_->setToolTip(tr("What the calibrator produces at 1 kHz, dB SPL"));
  calibrateButton_ = button(tr("Calibrate"), tr("Measure the calibrator on the measurement input"));
  calibrationLabel_ = new QLabel(bar);
  calibrationLabel_->setFont(control);

  auto* top = new QHBoxLayout;
  top->setSpacing(mv::kSpacing * 2);
  top->addWidget(levelLabel_);
  top->addStretch(1);
  top->addWidget(calibrationLabel_);
  top->addWidget(calibratorField_);
  top->addWidget(calibrateButton_);
  auto* controls = new QHBoxLayout;
  controls->setSpacing(6);
  controls->addWidget(caption(tr("Bands")));
  controls->addWidget(bandsCombo_);
  controls->addSpacing(mv::kSpacing);
  controls->addWidget(caption(tr("Weighting")));
  controls->addWidget(weightingCombo_);
  controls->addSpacing(mv::kSpacing);
  controls->addWidget(caption(tr("Averaging")));
  controls->addWidget(averagingCombo_);
  controls->addSpacing(mv::kSpacing);
  controls->addWidget(splCheck_);
  controls->addStretch(1);
  controls->addWidget(peaks);
  controls->addWidget(leq);
  auto* barLayout = new QVBoxLayout(bar);
  barLayout->setContentsMargins(mv::kMargin, 6, mv::kMargin, 6);
  barLayout->setSpacing(6);
  barLayout->addLayout(top);
  barLayout->addLayout(controls);

  plot()->installEventFilter(this);
  plot()->setToolTip(tr("Click to forget the held peaks"));

  // The controls show the stored choices before they are connected.
  bandsCombo_->setCurrentIndex(bandsCombo_->findData(settings_.bandsPerOctave));
  weightingCombo_->setCurrentIndex(
      weightingCombo_->findData(static_cast<int>(settings_.weighting)));
  averagingCombo_->setCurrentIndex(averagingCombo_->findData(settings_.averagingSeconds));
  splCheck_->setChecked(settings_.splUnits);
  calibratorField_->setValue(settings_.calibratorLevelDb);

  connect(bandsCombo_, &QComboBox::activated, this,
          [this](int i) { setBandsPerOctave(bandsCombo_->itemData(i).toInt()); });
  connect(weightingCombo_, &QComboBox::activated, this, [this](int i) {
    setWeighting(static_cast<Weighting>(weightingCombo_->itemData(i).toInt()));
  });
  connect(averagingCombo_, &QComboBox::activated, this,
          [this](int i) { setAveragingSeconds(averagingCombo_->itemData(i).toDouble()); });
  connect(splCheck_, &QCheckBox::toggled, this, [this](bool on) { setSplUnits(on); });
  connect(peaks, &QPushButton::clicked, this, [this] { resetPeaks(); });
  connect(leq, &QPushButton::clicked, this, [this] { resetLeq(); });
  connect(calibrateButton_, &QPushButton::clicked, this, [this] { calibrate(); });
  showCalibration({});
}

void SpectrumViewController::setupPlot() {
  plot()->setGridStepY(10.0);
  // One range for both units: dBFS below 0, dB SPL of a room well above it.
  setLevelRange(-160.0, 160.0, kDbfsScaleMin, kDbfsScaleMax);
  showScale(false);
}

void SpectrumViewController::showScale(bool spl) {
  splScale_ = spl;
  const PlotRange x = plot()->visibleRangeX();
  if (spl) {
    plot()->setVisibleRangeMinXMaxXMinYMaxY(x.min, x.max, kSplScaleMin, kSplScaleMax);
  } else {
    plot()->setVisibleRangeMinXMaxXMinYMaxY(x.min, x.max, kDbfsScaleMin, kDbfsScaleMax);
  }
  plot()->update(false);
}

void SpectrumViewController::setShown(bool shown) {
  if (shown == settings_.shown) return;
  settings_.shown = shown;
  cover(shown);
  apply();
}

void SpectrumViewController::apply() {
  session::AnalysisViews::Config c = session_->views().config();
  c.rta.shown = settings_.shown;
  c.rta.settings.bandsPerOctave = settings_.bandsPerOctave;
  c.rta.settings.weighting = settings_.weighting;
  c.rta.settings.averaging = settings_.averaging();
  c.rta.settings.splUnits = settings_.splUnits;
  c.level.shown = settings_.shown;
  // The level reads through the spectrum's weighting: one choice for both read-outs.
  c.level.weighting = settings_.weighting;
  c.calibration = settings_.calibration;
  session_->views().configure(c);
  settings_.write(store_);
}

void SpectrumViewController::setBandsPerOctave(int bands) {
  settings_.bandsPerOctave = bands;
  apply();
}

void SpectrumViewController::setWeighting(Weighting weighting) {
  settings_.weighting = weighting;
  apply();
}

void SpectrumViewController::setAveragingSeconds(double seconds) {
  settings_.averagingSeconds = seconds;
  apply();
}

void SpectrumViewController::setSplUnits(bool spl) {
  settings_.splUnits = spl;
  apply();
}

void SpectrumViewController::resetPeaks() { session_->views().resetRtaPeaks(); }

void SpectrumViewController::resetLeq() { session_->views().resetLeq(); }

void SpectrumViewController::calibrate() {
  settings_.calibratorLevelDb = calibratorField_->value();
  SplCalibrator::Settings s;
  s.referenceLevelDb = settings_.calibratorLevelDb;
  calibrationInput_ = 0;
  calibrationSerial_ = session_->views().calibrate(calibrationInput_, s);
  calibrateButton_->setEnabled(false);
  calibrationNote_ = tr("Calibrating\u2026");
  calibrationFailed_ = false;
  showCalibration({});
  settings_.write(store_);
}

void SpectrumViewController::makeCharts(const session::ViewsSnapshot::Rta& rta) {
  for (auto* chart : {&measurementChart_, &referenceChart_, &peakChart_}) {
    if (*chart) plot()->deleteChart(chart->get());
    chart->reset();
  }
  const plot::XValuesSpan span{rta.firstLog, rta.lastLog, rta.count};
  const float t = theme::kRtaCurveThickness;
  // Peaks below, the measurement on top.
  peakChart_ = plot()->addLineChartWithName("rta peak", span, t, theme::kRtaPeak);
  referenceChart_ = plot()->addLineChartWithName("rta reference", span, t, theme::kRtaReference);
  measurementChart_ =
      plot()->addLineChartWithName("rta measurement", span, t, theme::kRtaMeasurement);
  chartCount_ = rta.count;
  chartFirstLog_ = rta.firstLog;
  chartLastLog_ = rta.lastLog;
}

void SpectrumViewController::refresh() {
  const auto snapshot = session_->views().latest();
  if (!snapshot) return;
  showCalibration(snapshot->calibration);
  if (!settings_.shown) return;
  const session::ViewsSnapshot::Rta& rta = snapshot->rta;
  if (rta.shown && rta.count > 1 && rta.frames > 0) {
    if (rta.count != chartCount_ || rta.firstLog != chartFirstLog_ || rta.lastLog != chartLastLog_)
      makeCharts(rta);
    const auto put = [&](const std::vector<float>& values, const std::shared_ptr<plot::Chart>& c) {
      const auto n = static_cast<size_t>(rta.count);
      for (size_t i = 0; i < n; ++i)
        buffer_[i] = std::isfinite(values[i]) ? values[i] : kBelowScale;
      c->setData(buffer_.data(), rta.count);
    };
    if (rta.spl[0] != splScale_) showScale(rta.spl[0]);
    put(rta.levels[0], measurementChart_);
    put(rta.levels[1], referenceChart_);
    put(rta.peaks[0], peakChart_);
    plot()->update(false);
  }
  showLevel(*snapshot);
}

void SpectrumViewController::showLevel(const session::ViewsSnapshot& snapshot) {
  if (!snapshot.level.shown) return;
  levelLabel_->setText(levelText(snapshot.level.readings[0], snapshot.level.weighting));
}

void SpectrumViewController::showCalibration(const session::ViewsSnapshot::Calibration& cal) {
  if (calibrationSerial_ != 0 && cal.serial == calibrationSerial_) {
    using Status = SplCalibrator::Status;
    calibrationFailed_ = cal.status != Status::Measuring && cal.status != Status::Done;
    switch (cal.status) {
      case Status::Measuring:
        calibrationNote_ = tr("Calibrating\u2026 %1 %").arg(std::lround(cal.progress * 100.0));
        break;
      case Status::Done:
        settings_.calibration[static_cast<size_t>(calibrationInput_)] = cal.offsetDb;
        calibrationNote_.clear();
        apply();
        break;
      case Status::TooQuiet:
        calibrationNote_ = tr("No calibrator: the input is too quiet");
        break;
      case Status::Clipped:
        calibrationNote_ = tr("The calibrator clips the input");
        break;
      case Status::NotATone:
        calibrationNote_ = tr("No 1 kHz tone on the input");
        break;
      case Status::Unsteady:
        calibrationNote_ = tr("The level was not steady; try again");
        break;
    }
    if (cal.status != Status::Measuring) {
      calibrationSerial_ = 0;
      calibrateButton_->setEnabled(true);
    }
  }
  QString text = calibrationNote_;
  if (text.isEmpty()) {
    const auto& offset = settings_.calibration[0];
    text = offset ? tr("Calibrated: 0 dBFS = %1 dB SPL").arg(QString::asprintf("%.1f", *offset))
                  : tr("Not calibrated");
  }
  if (text == calibrationLabel_->text()) return;
  calibrationLabel_->setStyleSheet(
      QStringLiteral("color: %1;")
          .arg(rgb(calibrationFailed_ ? theme::kCalibrationFailed : theme::kTextDim)));
  calibrationLabel_->setText(text);
}

bool SpectrumViewController::eventFilter(QObject* watched, QEvent* event) {
  // A click on the spectrum (a press and release in one place, not a pan) resets the peaks.
  if (watched == plot() && event->type() == QEvent::MouseButtonPress) {
    pressedAt_ = static_cast<QMouseEvent*>(event)->position();
  } else if (watched == plot() && event->type() == QEvent::MouseButtonRelease) {
    const auto* e = static_cast<QMouseEvent*>(event);
    if (e->button() == Qt::LeftButton && (e->position() - pressedAt_).manhattanLength() < 4)
      resetPeaks();
  }
  return AnalysisOverlay::eventFilter(watched, event);
}

}  // namespace qv::gui
