#pragma once
// The widgets of the measurement view, built and arranged in one place: the control bar
// above the plots, the plot area, and the read-out bar below. The view controller owns
// them through Qt's parent chain and only keeps these pointers. Main thread only.
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qv::gui {

class QVClickableLabel;
class QVDelayStepper;
class QVLevelMeterView;

struct MainViewOutlets {
  QWidget* topView = nullptr;
  QWidget* plotBaseView = nullptr;
  QWidget* bottomView = nullptr;
  QPushButton* startButton = nullptr;
  QVLevelMeterView* levelMeterView = nullptr;
  QLabel* levelLegendTop = nullptr;     // names the meter's first row
  QLabel* levelLegendBottom = nullptr;  // and its second
  QLabel* topLabel = nullptr;           // "Dly: … ms, Coh: …"
  QLabel* delayDetailLabel = nullptr;   // samples, metres, the finder's state (DelayControls)
  QVDelayStepper* delayStepper = nullptr;
  QLineEdit* delayTextField = nullptr;
  QPushButton* autoDelayButton = nullptr;
  QPushButton* trackButton = nullptr;
  QComboBox* finderBandCombo = nullptr;
  QComboBox* smoothingCombo = nullptr;
  QPushButton* generatorButton = nullptr;
  QPushButton* captureButton = nullptr;
  QPushButton* deleteButton = nullptr;
  QLabel* cursorLabel = nullptr;
  QLabel* smoothingLabel = nullptr;
  QVClickableLabel* inputLabel = nullptr;
};

// Creates every widget as a descendant of `view`, lays them out and styles them.
MainViewOutlets buildMainViewOutlets(QWidget* view);

// The texts of toggles, which change with their state.
QString startButtonText(bool running);

}  // namespace qv::gui
