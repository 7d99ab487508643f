#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <thread>

#include "gui/app/AppSettings.h"
#include "platform/Log.h"

using qv::gui::AppSettings;

namespace {

class AppSettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<AppSettings> open() {
    return std::make_unique<AppSettings>(std::make_unique<QSettings>(path(), QSettings::IniFormat));
  }
  QString path() const { return dir_.filePath("Quorvex.conf"); }
  QString fileText() const {
    QFile f(path());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
  }
  QTemporaryDir dir_;
};

TEST_F(AppSettingsTest, EmptyStoreReadsTheRegisteredDefaults) {
  auto s = open();
  EXPECT_EQ(s->smoothingFactor(), 24);
  EXPECT_EQ(s->averaging(), 100);
  EXPECT_TRUE(s->autoDelayOn());
  EXPECT_TRUE(s->runningOnStart());
  EXPECT_TRUE(s->firstStart());
  EXPECT_FLOAT_EQ(s->coherenceThreshold(), 0.5f);
  EXPECT_FLOAT_EQ(s->liveTraceThickness(), 2.0f);
  EXPECT_FLOAT_EQ(s->capturedTraceThickness(), 1.0f);
  EXPECT_EQ(s->refChannelIndex(), 0);
  EXPECT_EQ(s->measChannelIndex(), 1);
  EXPECT_FALSE(s->generatorOn());
  EXPECT_FALSE(s->swapChannels());
  EXPECT_FALSE(s->showImpulseView());
  EXPECT_FALSE(s->showTraceManager());
  EXPECT_EQ(s->delayedChannel(), 0);
  EXPECT_FLOAT_EQ(s->delayValueMS(), 0.0f);
  EXPECT_FALSE(s->preferredRecordingDeviceUUID());
  EXPECT_FALSE(s->preferredPlaybackDeviceUUID());
  EXPECT_FALSE(s->recordingDeviceUUID());
  EXPECT_FALSE(s->playbackDeviceUUID());
  EXPECT_FALSE(s->channelMap());
  s->sync();
  // Defaults answer reads but are never written.
  EXPECT_FALSE(fileText().contains("TFSmoothingFactor"));
}

TEST_F(AppSettingsTest, ValuesSurviveANewObjectUnderTheirKeys) {
  {
    auto s = open();
    s->setSmoothingFactor(6);
    s->setAutoDelayOn(false);
    s->setDelayValueMS(12.5f);
    s->setPreferredRecordingDeviceUUID(std::string("ALSA:USB Audio, hw:1,0"));
    s->setMeasChannelIndex(0);
    s->setChannelMap(std::vector<int64_t>{5, 2});
    s->sync();
  }
  const QString text = fileText();
  for (const char* key :
       {"TFSmoothingFactor", "QVStartDelayFinder", "QVCurrentDelayMS",
        "SelectedRecordingDedviceUUID", "SelectedMeasChannelIndex", "ChannelIndexMap"})
    EXPECT_TRUE(text.contains(key)) << key;
  auto s = open();
  EXPECT_EQ(s->smoothingFactor(), 6);
  EXPECT_FALSE(s->autoDelayOn());
  EXPECT_FLOAT_EQ(s->delayValueMS(), 12.5f);
  EXPECT_EQ(s->preferredRecordingDeviceUUID().value_or(""), "ALSA:USB Audio, hw:1,0");
  // The run-time identifier is seeded from the stored choice.
  EXPECT_EQ(s->recordingDeviceUUID().value_or(""), "ALSA:USB Audio, hw:1,0");
  EXPECT_EQ(s->measChannelIndex(), 0);  // no longer the registered 1
  EXPECT_EQ(s->channelMap().value_or(std::vector<int64_t>{}), (std::vector<int64_t>{5, 2}));
}

// Every write of the file replaces it (a new inode) and syncs it to the disk; the delay
// finder sets the delay ten times a second, nearly always to the stored value.
TEST_F(AppSettingsTest, SettingTheStoredValueAgainLeavesTheFileAlone) {
  auto inode = [this] {
    struct stat st {};
    return ::stat(path().toLocal8Bit().constData(), &st) == 0 ? st.st_ino : ino_t{0};
  };
  {
    auto s = open();
    s->setDelayValueMS(3.02f);
    s->setAutoDelayOn(true);
    s->setSmoothingFactor(24);  // the registered default, now the user's own value
    s->sync();
  }
  const auto written = inode();
  ASSERT_NE(written, 0u);
  // A new object reads the values back from the file, as text.
  auto s = open();
  int heard = 0;
  auto token = s->observe("delayValueMS", [&](const QVariant&) { ++heard; });
  s->setDelayValueMS(3.02f);
  s->setAutoDelayOn(true);
  s->setSmoothingFactor(24);
  s->sync();
  EXPECT_EQ(inode(), written);
  EXPECT_EQ(heard, 1);  // observers still hear every set
  // A change does reach the file (its replacement exists beside it before the rename, so
  // it cannot carry the same inode).
  s->setDelayValueMS(3.03f);
  s->sync();
  EXPECT_NE(inode(), written);
  EXPECT_FLOAT_EQ(open()->delayValueMS(), 3.03f);
}

TEST_F(AppSettingsTest, ObserversHearSettersAndOptionallyTheCurrentValue) {
  auto s = open();
  std::vector<int64_t> heard;
  auto quiet =
      s->observe("smoothingFactor", [&](const QVariant& v) { heard.push_back(v.toLongLong()); });
  EXPECT_TRUE(heard.empty());
  s->setSmoothingFactor(3);
  EXPECT_EQ(heard, (std::vector<int64_t>{3}));

  std::vector<int64_t> initial;
  {
    auto token = s->observe(
        "averaging", [&](const QVariant& v) { initial.push_back(v.toLongLong()); }, true);
    s->setAveraging(7);
  }
  s->setAveraging(8);  // the token went: no longer heard
  EXPECT_EQ(initial, (std::vector<int64_t>{100, 7}));
}

TEST_F(AppSettingsTest, PreferredDeviceSetterAlsoAnnouncesTheRunTimeIdentifier) {
  auto s = open();
  std::vector<QString> heard;
  auto token =
      s->observe("recordingDeviceUUID", [&](const QVariant& v) { heard.push_back(v.toString()); });
  s->setPreferredRecordingDeviceUUID(std::string("JACK:system"));
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], "JACK:system");
  s->setRecordingDeviceUUID(std::string("Virtual:Virtual Sound System"));
  EXPECT_EQ(s->preferredRecordingDeviceUUID().value_or(""), "JACK:system");
  s->setPreferredRecordingDeviceUUID(std::nullopt);
  EXPECT_FALSE(s->preferredRecordingDeviceUUID());
  EXPECT_FALSE(s->recordingDeviceUUID());
  EXPECT_EQ(heard.size(), 3u);
}

TEST_F(AppSettingsTest, HandDamagedValuesReadAsTheDefaultWithOneLogLine) {
  {
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "[General]\nTFSmoothingFactor=twelve\nLiveTraceThickness=nan\nQVFirstStart=maybe\n"
        "AveragingIndexGlobal=50\nChannelIndexMap=1, x\n");
  }
  std::vector<std::string> lines;
  auto previous = qv::setLogSink([&](const std::string& l) { lines.push_back(l); });
  auto s = open();
  EXPECT_EQ(s->smoothingFactor(), 24);
  EXPECT_EQ(s->smoothingFactor(), 24);
  EXPECT_FLOAT_EQ(s->liveTraceThickness(), 2.0f);
  EXPECT_TRUE(s->firstStart());
  EXPECT_EQ(s->averaging(), 50);
  EXPECT_FALSE(s->channelMap());
  qv::setLogSink(previous);
  int smoothingLines = 0;
  for (const auto& l : lines) smoothingLines += l.find("TFSmoothingFactor") != std::string::npos;
  EXPECT_EQ(smoothingLines, 1);
  EXPECT_EQ(lines.size(), 4u);
}

TEST(AppSettingsShared, TwoThreadsGetOneObject) {
  AppSettings* a = nullptr;
  AppSettings* b = nullptr;
  std::thread t1([&] { a = &AppSettings::set(); });
  std::thread t2([&] { b = &AppSettings::set(); });
  t1.join();
  t2.join();
  EXPECT_EQ(a, b);
  // The shared store lives in the test's private config folder, never the user's.
  EXPECT_TRUE(a->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")))
      << a->fileName().toStdString();
}

}  // namespace
