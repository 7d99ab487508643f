#pragma once
// The spectrum view: the fractional-octave spectrum (RTA) of both inputs with the
// measurement's held peaks, and the measurement's sound level with its Leq, read in dB SPL
// once the input is calibrated against a calibrator. It covers the plot area it is given
// while shown, and its engines run in the session only then. Choices and calibrations are
// kept in the settings.
// Thread contract: main thread only; snapshots reach it through refresh() (the views'
// listener on the main queue, or the caller in a driven session).
#include <memory>
#include <vector>

#include "gui/display/AnalysisOverlay.h"
#include "gui/display/SpectrumViewSettings.h"
#include "plot/Chart.h"
#include "session/MeasurementSession.h"
#include "session/ViewsSnapshot.h"

class QComboBox;
class QLabel;
class QPushButton;
class QCheckBox;
class QDoubleSpinBox;
class QSettings;

namespace qv::gui {

class SpectrumViewController : public AnalysisOverlay {
  Q_OBJECT

 public:
  // The view fills `plotArea` and follows its size; `settings` keeps the choices.
  SpectrumViewController(std::shared_ptr<session::MeasurementSession> session, QSettings& settings,
                         QWidget* plotArea);
  ~SpectrumViewController() override;

  // Shows the view over the plot area and starts its engines, or hides and stops them.
  void setShown(bool shown);
  bool shown() const { return settings_.shown; }

  // The newest snapshot into the curves and the read-out.
  void refresh();

  // ---- user actions ----
  void setBandsPerOctave(int bands);
  void setWeighting(Weighting weighting);
  void setAveragingSeconds(double seconds);
  void setSplUnits(bool spl);
  void resetPeaks();
  void resetLeq();
  // Measures the calibrator on the measurement input at the level in the field.
  void calibrate();

  // ---- for tests ----
  QLabel* levelLabel() const { return levelLabel_; }
  QLabel* calibrationLabel() const { return calibrationLabel_; }
  const SpectrumViewSettings& settings() const { return settings_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void setupPlot();
  // The session's engines as the settings ask (none while hidden), and the stored copy.
  void apply();
  // The visible levels of the unit the measurement reads in (dBFS or dB SPL).
  void showScale(bool spl);
  void makeCharts(const session::ViewsSnapshot::Rta& rta);
  void showLevel(const session::ViewsSnapshot& snapshot);
  void showCalibration(const session::ViewsSnapshot::Calibration& calibration);

  std::shared_ptr<session::MeasurementSession> session_;
  QSettings& store_;
  SpectrumViewSettings settings_;

  QComboBox* bandsCombo_ = nullptr;
  QComboBox* weightingCombo_ = nullptr;
  QComboBox* averagingCombo_ = nullptr;
  QCheckBox* splCheck_ = nullptr;
  QDoubleSpinBox* calibratorField_ = nullptr;
  QPushButton* calibrateButton_ = nullptr;
  QLabel* levelLabel_ = nullptr;
  QLabel* calibrationLabel_ = nullptr;

  std::shared_ptr<plot::Chart> measurementChart_, referenceChart_, peakChart_;
  // The bands the charts were made for (a new resolution makes new charts).
  int32_t chartCount_ = 0;
  float chartFirstLog_ = 0.0f, chartLastLog_ = 0.0f;
  std::vector<float> buffer_;       // levels with silence clamped below the scale
  uint64_t calibrationSerial_ = 0;  // the calibration this view asked for, 0: none
  int calibrationInput_ = 0;
  bool splScale_ = false;
  QPointF pressedAt_;        // of the last press on the plot
  QString calibrationNote_;  // progress or failure of the last calibration, until the next
  bool calibrationFailed_ = false;
};

}  // namespace qv::gui
