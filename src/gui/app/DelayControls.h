#pragma once
// The delay finder's controls beside Auto in the measurement view (the tracking toggle and
// the band the finder searches) and the quiet line under the delay read-out that says what
// the delay is in samples and metres and what the finder makes of it: its state in words,
// polarity, confidence and the clock drift taken out. Main thread only.
#include <QString>
#include <utility>
#include <vector>

#include "session/DelaySnapshot.h"

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace qv::gui {

struct DelayControlOutlets {
  QPushButton* trackButton = nullptr;
  QComboBox* finderBandCombo = nullptr;  // item data: QPointF(lo, hi) in Hz
  QLabel* detailLabel = nullptr;
};

// Children of `parent`, styled like the view's other controls; the caller lays them out.
DelayControlOutlets buildDelayControls(QWidget* parent);

// The bands offered ({0, 0}: the whole band); a stored band that is none of them gets an
// item of its own.
struct FinderBandChoice {
  const char* title;
  double loHz, hiHz;
};
const std::vector<FinderBandChoice>& finderBandChoices();
// Selects `band` in the combo, adding an item for it when it is not offered.
void selectFinderBand(QComboBox* combo, std::pair<double, double> band);

// Metres per second in air at `celsius`.
double speedOfSound(double celsius);

// "found · 132.89 smp · 1.03 m · polarity normal · conf 4.6 · drift 0.0 ppm": the delay in
// force in samples and metres, then what the finder's newest result says (nothing of it
// while there is none; "found (3.01 ms)" when it found another delay than the one in
// force). An unsure result shows no polarity: it has none to speak of.
QString delayDetailText(double delayMs, uint32_t rate, double celsius,
                        const session::DelayStatus& status);

}  // namespace qv::gui
