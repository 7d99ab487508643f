#include "support/ShellTestSupport.h"
// (the support header goes first)
#include "audio/QXDeviceManager.h"
#include "integration/JackServer.h"
// (audio before Qt)
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "gui/app/DarkAppearance.h"
#include "gui/app/TelemetryClient.h"
#include "gui/app/preferences/PreferencesCoordinator.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::kVirtualUID;
using guitest::processEventsUntil;

constexpr const char* kJackUID = "JACK Audio Connection Kit:system";

QStringList itemsOf(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

// Hands list changes to the page, as the application coordinator does.
class ForwardingDelegate final : public QXDeviceManagerDelegate {
 public:
  void recordingDeviceListChanged(QXDeviceManager&) override {
    if (page) page->deviceListChanged();
  }
  void playbackDeviceListChanged(QXDeviceManager&) override {
    if (page) page->deviceListChanged();
  }
  InputOutputViewController* page = nullptr;
};

// The preferences over a private settings file and a device manager of their own.
class PreferencesTest : public ::testing::Test {
 protected:
  void open(const AudioLibrary::Options& options = guitest::virtualOnlyLibrary()) {
    applyDarkAppearance(*qApp);  // as the program looks
    library_ = std::make_unique<AudioLibrary>(options);
    AudioLibrary& library = *library_;
    telemetry_ = std::make_unique<TelemetryClient>(events_.path().toStdString());
    telemetry_->start();
    PreferencesCoordinator::Environment environment;
    environment.settings = settings_.get();
    environment.library = &library;
    environment.telemetry = telemetry_.get();
    environment.databasePath = "/somewhere/Quorvex/traces.sqlite";
    prefs_ = std::make_unique<PreferencesCoordinator>(nullptr, false, environment);
    forward_.page = prefs_->inputOutputPrefsController();
    bool scanned = false;
    manager_ = QXDeviceManager::initWithDelegateInitialScanCompletion(
        &forward_, [&] { scanned = true; }, library);
    ASSERT_TRUE(processEventsUntil([&] { return scanned; }, 5000));
    prefs_->setDeviceManager(manager_);
    prefs_->start();
    guitest::processEventsFor(30);  // the toolbar is laid out on the event loop
  }

  InputOutputViewController* page() const { return prefs_->inputOutputPrefsController(); }
  QComboBox* meas() const { return page()->inputMeasChannelPopupButton(); }
  QComboBox* ref() const { return page()->inputRefChannelPopupButton(); }
  QComboBox* inputs() const { return page()->inputDevicesPopupButton(); }
  QComboBox* outputs() const { return page()->outputDevicesPopupButton(); }
  QString eventLog() const {
    QFile f(QString::fromStdString(telemetry_->path()));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

  void TearDown() override {
    forward_.page = nullptr;
    prefs_.reset();
    manager_.reset();
  }

  guitest::TestSettings settings_;
  std::unique_ptr<AudioLibrary> library_;  // outlives the manager
  QTemporaryDir events_;
  std::unique_ptr<TelemetryClient> telemetry_;
  ForwardingDelegate forward_;
  std::shared_ptr<QXDeviceManager> manager_;
  std::unique_ptr<PreferencesCoordinator> prefs_;
};

TEST_F(PreferencesTest, ChoosingTheOthersInputSwapsMeasurementAndReference) {
  settings_->setPreferredRecordingDeviceUUID(kVirtualUID);
  settings_->setPreferredPlaybackDeviceUUID(kVirtualUID);
  settings_->setMeasChannelIndex(0);
  settings_->setRefChannelIndex(1);
  open();
  EXPECT_EQ(inputs()->currentText(), QStringLiteral("Virtual Sound System (44100 Hz)"));
  EXPECT_EQ(outputs()->currentText(), QStringLiteral("Virtual Sound System (44100 Hz)"));
  EXPECT_EQ(itemsOf(meas()), (QStringList{"in 1", "in 2"}));
  EXPECT_EQ(itemsOf(ref()), (QStringList{"in 1", "in 2"}));
  EXPECT_EQ(meas()->currentIndex(), 0);
  EXPECT_EQ(ref()->currentIndex(), 1);

  int measHeard = 0;
  auto token = settings_->observe("measChannelIndex", [&](const QVariant&) { ++measHeard; });
  emit meas()->activated(1);  // measurement on "in 2", where the reference is
  EXPECT_EQ(settings_->measChannelIndex(), 1);
  EXPECT_EQ(settings_->refChannelIndex(), 0);
  EXPECT_EQ(measHeard, 1);  // the measurement view hears of it
  EXPECT_EQ(meas()->currentIndex(), 1);
  EXPECT_EQ(ref()->currentIndex(), 0);

  emit ref()->activated(1);  // and back from the reference side
  EXPECT_EQ(settings_->measChannelIndex(), 0);
  EXPECT_EQ(settings_->refChannelIndex(), 1);
  EXPECT_EQ(meas()->currentIndex(), 0);
  EXPECT_EQ(ref()->currentIndex(), 1);
  guitest::saveScreenshot(*prefs_->window(), QStringLiteral("preferences-input-output"));
}

// Esc and Ctrl+W, typed as a user types them (shortcuts first), close the window.
TEST_F(PreferencesTest, EscapeAndControlWCloseTheWindow) {
  open();
  QWidget* window = prefs_->window();
  for (auto [key, mods] : {std::pair{Qt::Key_Escape, Qt::KeyboardModifiers(Qt::NoModifier)},
                           std::pair{Qt::Key_W, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(processEventsUntil([&] { return window->isActiveWindow(); }, 2000));
    guitest::typeKey(window, key, {}, mods);
    EXPECT_TRUE(processEventsUntil([&] { return !window->isVisible(); }, 2000)) << key;
  }
}

TEST_F(PreferencesTest, AMissingPreferredDeviceLeavesNothingSelectedAndTheChannelsEmpty) {
  settings_->setPreferredRecordingDeviceUUID("ALSA:unplugged interface");
  settings_->setPreferredPlaybackDeviceUUID("ALSA:unplugged interface");
  open();
  EXPECT_EQ(inputs()->count(), 1);  // the devices there are, still offered
  EXPECT_EQ(inputs()->currentIndex(), -1);
  EXPECT_EQ(outputs()->currentIndex(), -1);
  EXPECT_EQ(meas()->count(), 0);
  EXPECT_EQ(ref()->count(), 0);
}

TEST_F(PreferencesTest, ChoosingDevicesStoresThemAndWritesOneEventLineEach) {
  open();
  ASSERT_EQ(inputs()->currentIndex(), -1);
  std::optional<std::string> heard;
  auto token = settings_->observe("recordingDeviceUUID",
                                  [&](const QVariant& v) { heard = v.toString().toStdString(); });
  emit inputs()->activated(0);
  EXPECT_EQ(settings_->preferredRecordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(heard, kVirtualUID);
  EXPECT_EQ(itemsOf(meas()), (QStringList{"in 1", "in 2"}));  // rebuilt after the change
  emit outputs()->activated(0);
  EXPECT_EQ(settings_->preferredPlaybackDeviceUUID(), kVirtualUID);

  const QStringList lines = eventLog().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].contains(QStringLiteral(R"("name":"Virtual Sound System")")))
      << lines[0].toStdString();
}

TEST_F(PreferencesTest, EightInputsOfferEightChannelsAndAVanishedDeviceLeavesThePopupsConsistent) {
  test::JackServer server("qvprefs-" + std::to_string(getpid()));
  if (!server.start(8, 2)) GTEST_SKIP() << "no JACK server could be started here";
  AudioLibrary::Options options;
  options.clientName = "qvprefs";
  options.rescanSeconds = 0.25;
  settings_->setPreferredRecordingDeviceUUID(kJackUID);
  settings_->setMeasChannelIndex(6);
  settings_->setRefChannelIndex(7);
  open(options);
  ASSERT_NE(manager_->recordingDeviceByUID(kJackUID), nullptr);
  // The server's name for the device means nothing to a user; the rate is the server's.
  EXPECT_EQ(inputs()->currentText(), QStringLiteral("JACK (48000 Hz)"));
  const QStringList eight{"in 1", "in 2", "in 3", "in 4", "in 5", "in 6", "in 7", "in 8"};
  EXPECT_EQ(itemsOf(meas()), eight);
  EXPECT_EQ(itemsOf(ref()), eight);
  EXPECT_EQ(meas()->currentText(), QStringLiteral("in 7"));
  EXPECT_EQ(ref()->currentText(), QStringLiteral("in 8"));
  guitest::saveScreenshot(*prefs_->window(), QStringLiteral("preferences-eight-inputs"));

  // The interface goes away while the window is open.
  server.stop();
  ASSERT_TRUE(processEventsUntil(
      [&] { return manager_->recordingDeviceByUID(kJackUID) == nullptr; }, 10000));
  guitest::processEventsFor(50);
  EXPECT_EQ(inputs()->findText(QStringLiteral("JACK (48000 Hz)")), -1);
  EXPECT_EQ(inputs()->currentIndex(), -1);
  EXPECT_EQ(meas()->count(), 0);
  EXPECT_EQ(ref()->count(), 0);

  // Choosing a two-input device moves inputs 7 and 8 to ones it has.
  const int virtualItem = inputs()->findText(QStringLiteral("Virtual Sound System (44100 Hz)"));
  ASSERT_GE(virtualItem, 0);
  emit inputs()->activated(virtualItem);
  EXPECT_EQ(settings_->preferredRecordingDeviceUUID(), kVirtualUID);
  EXPECT_EQ(settings_->measChannelIndex(), 0);
  EXPECT_EQ(settings_->refChannelIndex(), 1);
  EXPECT_EQ(itemsOf(meas()), (QStringList{"in 1", "in 2"}));
}

TEST_F(PreferencesTest, TheGeneralPageShowsAndWritesItsSettings) {
  settings_->setLiveTraceThickness(2.5f);
  settings_->setAutoDelayOn(false);
  open();
  GeneralPreferencesViewController* general = prefs_->generalPrefsController();
  QUrl opened;
  general->setFolderOpener([&](const QUrl& url) {
    opened = url;
    return true;
  });
  prefs_->tabViewController()->setSelectedTabViewItemIndex(1);
  guitest::processEventsFor(30);
  EXPECT_DOUBLE_EQ(general->liveTraceThicknessField()->value(), 2.5);
  EXPECT_FALSE(general->autoDelayCheckBox()->isChecked());
  EXPECT_EQ(general->databaseLocationField()->text(),
            QStringLiteral("/somewhere/Quorvex/traces.sqlite"));
  // Every text is whole: inside the window and, unless it wraps, as wide as it needs.
  QWidget* window = prefs_->window();
  for (const QLabel* label : general->findChildren<QLabel*>()) {
    if (!label->isVisible() || label->text().isEmpty()) continue;
    const QRect at(label->mapTo(window, QPoint(0, 0)), label->size());
    EXPECT_TRUE(window->rect().contains(at)) << label->text().toStdString();
    if (!label->wordWrap()) {
      EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    }
  }
  guitest::saveScreenshot(*window, QStringLiteral("preferences-general"));

  general->capturedTraceThicknessField()->setValue(3.0);
  general->autoDelayCheckBox()->click();
  EXPECT_FLOAT_EQ(settings_->capturedTraceThickness(), 3.0f);
  EXPECT_TRUE(settings_->autoDelayOn());
  general->openFolderButton()->click();
  EXPECT_EQ(opened, QUrl::fromLocalFile(QStringLiteral("/somewhere/Quorvex")));

  // Changed elsewhere (the measurement view's menu) while hidden: shown as it is now.
  prefs_->tabViewController()->setSelectedTabViewItemIndex(0);
  settings_->setAutoDelayOn(false);
  prefs_->tabViewController()->setSelectedTabViewItemIndex(1);
  EXPECT_FALSE(general->autoDelayCheckBox()->isChecked());
}

}  // namespace
}  // namespace qv::gui
