#pragma once
// The "Input / Output" page: the recording device, which of its inputs is the
// measurement and which the reference channel, and the playback device of the signal
// generator. Every choice goes straight to the settings (the measurement view follows
// them); the pop-ups are rebuilt from the device manager on every appearance and after
// every change, so a device that went away leaves nothing selected rather than a stale
// entry. Main thread.
#include <QComboBox>
#include <QPointer>
#include <memory>

#include "gui/app/preferences/OneTabPreferenceViewController.h"

namespace qv {
class AudioLibrary;
class QXDeviceManager;
}  // namespace qv

namespace qv::gui {

class TelemetryClient;

class InputOutputViewController final : public OneTabPreferenceViewController {
  Q_OBJECT

 public:
  InputOutputViewController(AppSettings& settings, AudioLibrary& library,
                            TelemetryClient* telemetry, QWidget* parent = nullptr);
  ~InputOutputViewController() override;

  void setDeviceManager(std::shared_ptr<QXDeviceManager> manager);
  std::shared_ptr<QXDeviceManager> deviceManager() const { return _deviceManager; }

  void findSelectedDevices();

  // The user's choices (index into the sender's items).
  void onInputPopup(int index);
  void onOutputPopup(int index);
  void onInputChannelSelectPopup(QComboBox* sender, int index);

  // A device list changed: rebuild now when shown, else at the next appearance.
  void deviceListChanged();
  void defaultInputDeviceChanged() {}
  void defaultOutputDeviceChanged() {}

  QComboBox* inputDevicesPopupButton() const { return _inputDevicesPopupButton; }
  QComboBox* inputMeasChannelPopupButton() const { return _inputMeasChannelPopupButton; }
  QComboBox* inputRefChannelPopupButton() const { return _inputRefChannelPopupButton; }
  QComboBox* outputDevicesPopupButton() const { return _outputDevicesPopupButton; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void fillDevicePopups();
  int channelCountOfPreferredInput(const std::string& uid) const;

  AudioLibrary& library_;
  TelemetryClient* telemetry_;
  bool _deviceListNeedsUpdate = true;
  std::shared_ptr<QXDeviceManager> _deviceManager;
  QComboBox* _inputDevicesPopupButton = nullptr;
  QComboBox* _inputMeasChannelPopupButton = nullptr;
  QComboBox* _inputRefChannelPopupButton = nullptr;
  QComboBox* _outputDevicesPopupButton = nullptr;
};

}  // namespace qv::gui
