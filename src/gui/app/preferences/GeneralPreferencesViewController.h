#pragma once
// The "General" page: line widths of the live and the captured curves, where the trace
// database lives (with a button that opens its folder), whether the delay finder starts
// with the analysis and the air temperature that gives the delay in metres. Values are read from
// the settings on every appearance and written on every change. Main thread.
#include <QString>
#include <QUrl>
#include <functional>

#include "gui/app/preferences/OneTabPreferenceViewController.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv::gui {

class GeneralPreferencesViewController final : public OneTabPreferenceViewController {
  Q_OBJECT

 public:
  using FolderOpener = std::function<bool(const QUrl& folder)>;

  GeneralPreferencesViewController(AppSettings& settings, QString databasePath,
                                   QWidget* parent = nullptr);
  ~GeneralPreferencesViewController() override;

  // The desktop's file manager by default.
  void setFolderOpener(FolderOpener opener) { folderOpener_ = std::move(opener); }
  void openDatabaseFolder();

  QDoubleSpinBox* liveTraceThicknessField() const { return live_; }
  QDoubleSpinBox* capturedTraceThicknessField() const { return captured_; }
  QLineEdit* databaseLocationField() const { return location_; }
  QPushButton* openFolderButton() const { return openFolder_; }
  QCheckBox* autoDelayCheckBox() const { return autoDelay_; }
  QDoubleSpinBox* airTemperatureField() const { return temperature_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void loadFromSettings();
  void showSpeedOfSound(double celsius);

  QString databasePath_;
  FolderOpener folderOpener_;
  QDoubleSpinBox* live_ = nullptr;
  QDoubleSpinBox* captured_ = nullptr;
  QLineEdit* location_ = nullptr;
  QPushButton* openFolder_ = nullptr;
  QCheckBox* autoDelay_ = nullptr;
  QDoubleSpinBox* temperature_ = nullptr;
  QLabel* speed_ = nullptr;
};

}  // namespace qv::gui
