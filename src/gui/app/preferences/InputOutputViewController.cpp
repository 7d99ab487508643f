#include "gui/app/preferences/InputOutputViewController.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>

#include "audio/QXBassHelper.h"
#include "audio/QXDeviceManager.h"
#include "gui/Theme.h"
#include "gui/app/AppSettings.h"
#include "gui/app/TelemetryClient.h"

namespace qv::gui {
namespace {

QLabel* hint(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, theme::kTextDim);
  label->setPalette(p);
  return label;
}

int indexOfUID(const QComboBox* box, const std::string& uid) {
  return box->findData(QString::fromStdString(uid));
}

}  // namespace

InputOutputViewController::InputOutputViewController(AppSettings& settings, AudioLibrary& library,
                                                     TelemetryClient* telemetry, QWidget* parent)
    : OneTabPreferenceViewController(settings, parent), library_(library), telemetry_(telemetry) {
  setObjectName(QStringLiteral("Input / Output"));
  _inputDevicesPopupButton = new QComboBox(this);
  _inputMeasChannelPopupButton = new QComboBox(this);
  _inputRefChannelPopupButton = new QComboBox(this);
  _outputDevicesPopupButton = new QComboBox(this);
  _inputDevicesPopupButton->setObjectName(QStringLiteral("inputDevicesPopupButton"));
  _inputMeasChannelPopupButton->setObjectName(QStringLiteral("inputMeasChannelPopupButton"));
  _inputRefChannelPopupButton->setObjectName(QStringLiteral("inputRefChannelPopupButton"));
  _outputDevicesPopupButton->setObjectName(QStringLiteral("outputDevicesPopupButton"));
  for (QComboBox* box : {_inputDevicesPopupButton, _outputDevicesPopupButton}) {
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(28);
  }
  for (QComboBox* box : {_inputMeasChannelPopupButton, _inputRefChannelPopupButton}) {
    box->setMinimumContentsLength(6);
  }

  // activated() is the user's choice only; filling and selecting from code stay quiet.
  connect(_inputDevicesPopupButton, &QComboBox::activated, this,
          [this](int i) { onInputPopup(i); });
  connect(_outputDevicesPopupButton, &QComboBox::activated, this,
          [this](int i) { onOutputPopup(i); });
  connect(_inputMeasChannelPopupButton, &QComboBox::activated, this,
          [this](int i) { onInputChannelSelectPopup(_inputMeasChannelPopupButton, i); });
  connect(_inputRefChannelPopupButton, &QComboBox::activated, this,
          [this](int i) { onInputChannelSelectPopup(_inputRefChannelPopupButton, i); });

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(40, 24, 40, 24);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(10);
  grid->setColumnStretch(4, 1);
  int row = 0;
  grid->addWidget(heading(tr("Input"), this), row++, 0, 1, 5);
  grid->addWidget(new QLabel(tr("Recording device:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(_inputDevicesPopupButton, row++, 1, 1, 4);
  grid->addWidget(new QLabel(tr("Measurement:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(_inputMeasChannelPopupButton, row, 1);
  grid->addWidget(new QLabel(tr("Reference:"), this), row, 2, Qt::AlignRight);
  grid->addWidget(_inputRefChannelPopupButton, row++, 3);
  grid->addWidget(hint(tr("The measurement microphone and the reference signal are two inputs "
                          "of the same device; choosing the other's input swaps them."),
                       this),
                  row++, 1, 1, 4);
  grid->setRowMinimumHeight(row++, 12);
  grid->addWidget(heading(tr("Output"), this), row++, 0, 1, 5);
  grid->addWidget(new QLabel(tr("Signal generator:"), this), row, 0, Qt::AlignRight);
  grid->addWidget(_outputDevicesPopupButton, row++, 1, 1, 4);
  grid->setRowStretch(row, 1);
}

InputOutputViewController::~InputOutputViewController() = default;

void InputOutputViewController::setDeviceManager(std::shared_ptr<QXDeviceManager> manager) {
  _deviceManager = std::move(manager);
  _deviceListNeedsUpdate = true;
  if (isVisible()) findSelectedDevices();
}

void InputOutputViewController::deviceListChanged() {
  _deviceListNeedsUpdate = true;
  if (isVisible()) findSelectedDevices();
}

void InputOutputViewController::showEvent(QShowEvent* event) {
  OneTabPreferenceViewController::showEvent(event);
  findSelectedDevices();
}

void InputOutputViewController::fillDevicePopups() {
  const QSignalBlocker inBlock(_inputDevicesPopupButton);
  const QSignalBlocker outBlock(_outputDevicesPopupButton);
  _inputDevicesPopupButton->clear();
  _outputDevicesPopupButton->clear();
  if (_deviceManager) {
    const QXBassHelper helper(library_);
    const auto title = [&](const auto& d) {
      return QString::fromStdString(helper.deviceTitle(d->name(), d->uuid()));
    };
    for (const auto& d : _deviceManager->allRecordingDeviceInfos())
      _inputDevicesPopupButton->addItem(title(d), QString::fromStdString(d->uuid()));
    for (const auto& d : _deviceManager->allPlaybackDeviceInfos())
      _outputDevicesPopupButton->addItem(title(d), QString::fromStdString(d->uuid()));
  }
  _deviceListNeedsUpdate = false;
}

int InputOutputViewController::channelCountOfPreferredInput(const std::string& uid) const {
  QXBassHelper helper(library_);
  const uint32_t index = helper.recordingDeviceHandleForUUID(uid);
  if (index == kDefaultDevice) return 0;  // gone from the library since the last scan
  return static_cast<int>(helper.recordingDeviceChannelCount(index));
}

void InputOutputViewController::findSelectedDevices() {
  // The lists are cheap to rebuild and may have changed since the last look (a device
  // replaced by another leaves the count, and so the manager's report, unchanged).
  fillDevicePopups();
  const QSignalBlocker measBlock(_inputMeasChannelPopupButton);
  const QSignalBlocker refBlock(_inputRefChannelPopupButton);
  _inputMeasChannelPopupButton->clear();
  _inputRefChannelPopupButton->clear();
  _inputDevicesPopupButton->setCurrentIndex(-1);
  _outputDevicesPopupButton->setCurrentIndex(-1);
  if (!_deviceManager) return;

  if (const auto uid = settings_.preferredRecordingDeviceUUID()) {
    if (const auto device = _deviceManager->recordingDeviceByUID(*uid)) {
      int channels = channelCountOfPreferredInput(*uid);
      // A device that cannot be opened just now (busy, or gone from the library since
      // the last scan) still has the channels its listing says.
      if (channels <= 0) channels = static_cast<int>(device->inputStreamsNumber());
      if (channels > 0) {
        _inputDevicesPopupButton->setCurrentIndex(indexOfUID(_inputDevicesPopupButton, *uid));
        QStringList titles;
        for (int i = 1; i <= channels; ++i) titles << QString::asprintf("in %d", i);
        _inputMeasChannelPopupButton->addItems(titles);
        _inputRefChannelPopupButton->addItems(titles);
        const auto pick = [channels](int64_t i) { return i >= 0 && i < channels ? int(i) : -1; };
        _inputMeasChannelPopupButton->setCurrentIndex(pick(settings_.measChannelIndex()));
        _inputRefChannelPopupButton->setCurrentIndex(pick(settings_.refChannelIndex()));
      }
    }
  }
  if (const auto uid = settings_.preferredPlaybackDeviceUUID()) {
    if (_deviceManager->playbackDeviceByUID(*uid)) {
      _outputDevicesPopupButton->setCurrentIndex(indexOfUID(_outputDevicesPopupButton, *uid));
    }
  }
}

void InputOutputViewController::onInputPopup(int index) {
  const std::string uid = _inputDevicesPopupButton->itemData(index).toString().toStdString();
  const auto device = _deviceManager ? _deviceManager->recordingDeviceByUID(uid) : nullptr;
  if (device) {
    // Stored inputs that the new device does not have would point the recorder at
    // channels that do not exist; start from its first two, before the device changes
    // so that the recorder is built for a valid pair.
    const int64_t channels = device->inputStreamsNumber();
    const int64_t meas = settings_.measChannelIndex();
    const int64_t ref = settings_.refChannelIndex();
    if (meas >= channels || ref >= channels) {
      settings_.setMeasChannelIndex(0);
      settings_.setRefChannelIndex(1);
    }
    settings_.setPreferredRecordingDeviceUUID(uid);
    if (telemetry_) telemetry_->trackEvent("set-input-device", {{"name", device->name()}});
  }
  findSelectedDevices();
}

void InputOutputViewController::onOutputPopup(int index) {
  const std::string uid = _outputDevicesPopupButton->itemData(index).toString().toStdString();
  const auto device = _deviceManager ? _deviceManager->playbackDeviceByUID(uid) : nullptr;
  if (device) {
    settings_.setPreferredPlaybackDeviceUUID(uid);
    if (telemetry_) telemetry_->trackEvent("set-output-device", {{"name", device->name()}});
  }
  findSelectedDevices();
}

void InputOutputViewController::onInputChannelSelectPopup(QComboBox* sender, int index) {
  if (index < 0) return;
  const int64_t meas = settings_.measChannelIndex();
  const int64_t ref = settings_.refChannelIndex();
  if (sender == _inputMeasChannelPopupButton) {
    if (index == ref) settings_.setRefChannelIndex(meas);
    settings_.setMeasChannelIndex(index);
  } else if (sender == _inputRefChannelPopupButton) {
    if (index == meas) settings_.setMeasChannelIndex(ref);
    settings_.setRefChannelIndex(index);
  }
  findSelectedDevices();
}

}  // namespace qv::gui
