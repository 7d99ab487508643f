#include "gui/app/preferences/GeneralPreferencesViewController.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "gui/Theme.h"
#include "gui/app/AppSettings.h"
#include "gui/app/DelayControls.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

QDoubleSpinBox* widthField(QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setRange(AppSettings::kMinTraceThickness, AppSettings::kMaxTraceThickness);
  box->setSingleStep(0.5);
  box->setDecimals(1);
  box->setSuffix(QStringLiteral(" px"));
  box->setKeyboardTracking(false);
  return box;
}

}  // namespace

GeneralPreferencesViewController::GeneralPreferencesViewController(AppSettings& settings,
                                                                   QString databasePath,
                                                                   QWidget* parent)
    : OneTabPreferenceViewController(settings, parent), databasePath_(std::move(databasePath)) {
  setObjectName(QStringLiteral("General"));
  folderOpener_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

  live_ = widthField(this);
  captured_ = widthField(this);
  live_->setObjectName(QStringLiteral("liveTraceThickness"));
  captured_->setObjectName(QStringLiteral("capturedTraceThickness"));
  location_ = new QLineEdit(databasePath_, this);
  location_->setReadOnly(true);
  location_->setObjectName(QStringLiteral("databaseLocation"));
  location_->setCursorPosition(0);
  openFolder_ = new QPushButton(tr("Open Folder"), this);
  openFolder_->setObjectName(QStringLiteral("openDatabaseFolder"));
  autoDelay_ = new QCheckBox(tr("Start the delay finder with the analysis"), this);
  autoDelay_->setObjectName(QStringLiteral("autoDelayOn"));
  temperature_ = new QDoubleSpinBox(this);
  temperature_->setObjectName(QStringLiteral("airTemperature"));
  temperature_->setRange(AppSettings::kMinAirTemperatureC, AppSettings::kMaxAirTemperatureC);
  temperature_->setSingleStep(0.5);
  temperature_->setDecimals(1);
  temperature_->setSuffix(QStringLiteral(" \u00B0C"));
  temperature_->setKeyboardTracking(false);
  speed_ = new QLabel(this);

  connect(live_, &QDoubleSpinBox::valueChanged, this,
          [this](double v) { settings_.setLiveTraceThickness(static_cast<float>(v)); });
  connect(captured_, &QDoubleSpinBox::valueChanged, this,
          [this](double v) { settings_.setCapturedTraceThickness(static_cast<float>(v)); });
  connect(autoDelay_, &QCheckBox::toggled, this, [this](bool on) { settings_.setAutoDelayOn(on); });
  connect(temperature_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
    settings_.setAirTemperatureC(v);
    showSpeedOfSound(v);
  });
  connect(openFolder_, &QPushButton::clicked, this, [this] { openDatabaseFolder(); });

  auto* dim = new QLabel(tr("Live curves take a new width at the next start, captured traces when "
                            "they are next shown."),
                         this);
  QPalette p = dim->palette();
  p.setColor(QPalette::WindowText, theme::kTextDim);
  dim->setPalette(p);
  speed_->setPalette(p);
  // Hints wrap within the window rather than run past its edge.
  dim->setWordWrap(true);
  speed_->setWordWrap(true);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(40, 24, 40, 24);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(10);
  grid->setColumnStretch(1, 1);
  int row = 0;
  grid->addWidget(heading(tr("Curves"), this), row++, 0, 1, 3);
  grid->addWidget(new QLabel(tr("Live curves:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(live_, row++, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel(tr("Captured traces:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(captured_, row++, 1, Qt::AlignLeft);
  grid->addWidget(dim, row++, 1, 1, 2);
  grid->setRowMinimumHeight(row++, 8);
  grid->addWidget(heading(tr("Traces"), this), row++, 0, 1, 3);
  grid->addWidget(new QLabel(tr("Database:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(location_, row, 1);
  grid->addWidget(openFolder_, row++, 2);
  grid->setRowMinimumHeight(row++, 8);
  grid->addWidget(heading(tr("Delay"), this), row++, 0, 1, 3);
  grid->addWidget(autoDelay_, row++, 1, 1, 2);
  grid->addWidget(new QLabel(tr("Air temperature:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(temperature_, row++, 1, Qt::AlignLeft);
  grid->addWidget(speed_, row++, 1, 1, 2);
  grid->setRowStretch(row, 1);
}

GeneralPreferencesViewController::~GeneralPreferencesViewController() = default;

void GeneralPreferencesViewController::showEvent(QShowEvent* event) {
  OneTabPreferenceViewController::showEvent(event);
  loadFromSettings();
}

void GeneralPreferencesViewController::loadFromSettings() {
  const QSignalBlocker a(live_), b(captured_), c(autoDelay_), d(temperature_);
  live_->setValue(settings_.liveTraceThickness());
  captured_->setValue(settings_.capturedTraceThickness());
  autoDelay_->setChecked(settings_.autoDelayOn());
  temperature_->setValue(settings_.airTemperatureC());
  showSpeedOfSound(settings_.airTemperatureC());
}

void GeneralPreferencesViewController::showSpeedOfSound(double celsius) {
  speed_->setText(tr("Sound travels %1 m/s: the delay is shown in metres at this speed.")
                      .arg(speedOfSound(celsius), 0, 'f', 1));
}

void GeneralPreferencesViewController::openDatabaseFolder() {
  const QString folder = QFileInfo(databasePath_).absolutePath();
  if (!folderOpener_ || !folderOpener_(QUrl::fromLocalFile(folder))) {
    qv::log("Could not open the folder %s", folder.toUtf8().constData());
  }
}

}  // namespace qv::gui
