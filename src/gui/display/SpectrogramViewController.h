#pragma once
// The spectrogram view: the measurement input's level over log frequency (across) and the
// last seconds (down, the newest at the top), the level as colour. Each refresh hands the
// plot the newest column of the session's history, which the plot draws as one new row
// over the old picture. It covers the plot area it is given while shown, and its engine
// runs in the session only then; its choices are kept in the settings.
// Thread contract: main thread only; snapshots reach it through refresh() (the views'
// listener on the main queue, or the caller in a driven session).
#include <memory>
#include <vector>

#include "gui/display/AnalysisOverlay.h"
#include "gui/display/SpectrogramViewSettings.h"
#include "plot/Chart.h"
#include "session/MeasurementSession.h"
#include "session/ViewsSnapshot.h"

class QComboBox;
class QLabel;

namespace qv::gui {

class SpectrogramViewController : public AnalysisOverlay {
  Q_OBJECT

 public:
  // The colours span these levels: dBFS, or dB SPL once the input is calibrated.
  static constexpr double kFloorDbfs = -120.0, kTopDbfs = 0.0;
  static constexpr double kFloorSpl = 20.0, kTopSpl = 140.0;

  SpectrogramViewController(std::shared_ptr<session::MeasurementSession> session,
                            QSettings& settings, QWidget* plotArea);
  ~SpectrogramViewController() override;

  void setShown(bool shown);
  bool shown() const { return settings_.shown; }
  void refresh();

  void setOctResolution(int resolution);
  void setHistorySeconds(int seconds);

  const SpectrogramViewSettings& settings() const { return settings_; }

 private:
  void apply();
  void makeChart(const SpectrogramHistory& history, bool spl);

  std::shared_ptr<session::MeasurementSession> session_;
  QSettings& store_;
  SpectrogramViewSettings settings_;
  QComboBox* resolutionCombo_ = nullptr;
  QComboBox* secondsCombo_ = nullptr;
  QLabel* scaleLabel_ = nullptr;

  std::shared_ptr<plot::Chart> chart_;
  std::shared_ptr<const SpectrogramHistory> history_;  // the one the chart shows
  bool spl_ = false;
  uint64_t nextColumn_ = 0;
  std::vector<float> column_;
};

}  // namespace qv::gui
