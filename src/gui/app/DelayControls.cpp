#include "gui/app/DelayControls.h"

#include <QComboBox>
#include <QLabel>
#include <QPointF>
#include <QPushButton>
#include <cmath>

#include "gui/Theme.h"

namespace qv::gui {
namespace {

namespace mv = theme::mainview;

QString bandTitle(double lo, double hi) {
  const auto hz = [](double f) {
    return f >= 1000.0 ? QString::number(f / 1000.0, 'g', 3) + QStringLiteral(" kHz")
                       : QString::number(f, 'g', 4) + QStringLiteral(" Hz");
  };
  return hz(lo) + QStringLiteral("\u2013") + hz(hi);
}

}  // namespace

const std::vector<FinderBandChoice>& finderBandChoices() {
  static const std::vector<FinderBandChoice> choices = {
      {"Whole band", 0.0, 0.0},
      {"Sub 30\u2013120 Hz", 30.0, 120.0},
      {"Low 100\u2013500 Hz", 100.0, 500.0},
      {"Mid 500 Hz\u20134 kHz", 500.0, 4000.0},
      {"High 2\u201316 kHz", 2000.0, 16000.0},
  };
  return choices;
}

DelayControlOutlets buildDelayControls(QWidget* parent) {
  DelayControlOutlets o;
  QFont font;
  font.setPointSize(mv::kControlPointSize);

  o.trackButton = new QPushButton(QObject::tr("Track"), parent);
  o.trackButton->setObjectName(QStringLiteral("trackButton"));
  o.trackButton->setCheckable(true);
  o.trackButton->setFixedHeight(mv::kControlHeight);
  o.trackButton->setMinimumWidth(mv::kToggleWidth);
  o.trackButton->setFocusPolicy(Qt::NoFocus);
  o.trackButton->setToolTip(
      QObject::tr("Follow a delay that moves (a source that walks); off: hold a steady delay"));

  o.finderBandCombo = new QComboBox(parent);
  o.finderBandCombo->setObjectName(QStringLiteral("finderBandCombo"));
  o.finderBandCombo->setFixedHeight(mv::kControlHeight);
  o.finderBandCombo->setFocusPolicy(Qt::ClickFocus);
  o.finderBandCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  o.finderBandCombo->setToolTip(
      QObject::tr("The band the delay finder listens to, e.g. 30\u2013120 Hz for a subwoofer"));
  for (const FinderBandChoice& c : finderBandChoices())
    o.finderBandCombo->addItem(QObject::tr(c.title), QPointF(c.loHz, c.hiHz));

  o.detailLabel = new QLabel(parent);
  o.detailLabel->setObjectName(QStringLiteral("delayDetailLabel"));
  o.detailLabel->setFont(theme::tabularFont(mv::kControlPointSize - 1));
  o.detailLabel->setToolTip(
      QObject::tr("The delay in force in samples and in metres of air, and what the delay "
                  "finder makes of it: found, unsure (nothing is inserted) or out of range; "
                  "the polarity, the confidence (the arrival over the next highest) and the "
                  "drift between the two clocks that is taken out"));
  return o;
}

void selectFinderBand(QComboBox* combo, std::pair<double, double> band) {
  const QPointF wanted(band.first, band.second);
  int index = combo->findData(wanted);
  if (index < 0) {
    combo->addItem(bandTitle(band.first, band.second), wanted);
    index = combo->count() - 1;
  }
  combo->setCurrentIndex(index);
}

double speedOfSound(double celsius) { return 331.3 * std::sqrt(1.0 + celsius / 273.15); }

QString delayDetailText(double delayMs, uint32_t rate, double celsius,
                        const session::DelayStatus& status) {
  QString text = QString::asprintf("%.2f smp \u00B7 %.2f m", delayMs * rate / 1000.0,
                                   delayMs / 1000.0 * speedOfSound(celsius));
  if (!status.haveReading) return text;
  const DelayEstimate& e = status.estimate;
  QString state = QString::fromLatin1(delayStateName(e.state));
  if (e.state == DelayState::OutOfRange)
    state += QString::asprintf(" (%.0f ms)", e.delaySeconds() * 1000.0);
  // A found delay that is not the one in force says where it was found: with the delay set
  // by hand the finder only looks, and in Auto a reading waits for its confirmations.
  // "found · 0.00 smp" would read as an arrival found at zero.
  if (e.state == DelayState::Found && std::fabs(e.delaySeconds() * 1000.0 - delayMs) >= 0.005)
    state += QString::asprintf(" (%.2f ms)", e.delaySeconds() * 1000.0);
  text = state + QStringLiteral(" \u00B7 ") + text;
  if (e.state == DelayState::Found)
    text += e.inverted ? QStringLiteral(" \u00B7 polarity inverted")
                       : QStringLiteral(" \u00B7 polarity normal");
  text +=
      QString::asprintf(" \u00B7 conf %.1f \u00B7 drift %.1f ppm", e.peakToNext, status.driftPpm);
  return text;
}

}  // namespace qv::gui
