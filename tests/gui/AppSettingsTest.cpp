#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cctype>
#include <functional>
#include <ostream>

#include "gui/app/AppSettings.h"
#include "support/LogCapture.h"

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

// Each line of a hand-edited file that the program cannot use, with what it reads instead.
struct Damage {
  const char* line;
  const char* key;
  std::function<double(AppSettings&)> read;
  double fallback;
  const char* why = "out of range";
};
void PrintTo(const Damage& d, std::ostream* os) { *os << d.line; }

class AppSettingsDamageTest : public AppSettingsTest, public ::testing::WithParamInterface<Damage> {
 protected:
  void writeFile(const std::string& lines) {
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("[General]\n" + lines).c_str());
  }
};

TEST_P(AppSettingsDamageTest, ReadsTheDefaultWithOneLineAndTheRestIsKept) {
  const Damage& d = GetParam();
  writeFile(std::string(d.line) +
            "\nQVShowImpulseView=true\nSelectedRecordingDedviceUUID=JACK:system\n");
  qv::test::LogCapture log;
  auto s = open();
  EXPECT_DOUBLE_EQ(d.read(*s), d.fallback);
  EXPECT_DOUBLE_EQ(d.read(*s), d.fallback);  // read again: no second line
  EXPECT_TRUE(s->showImpulseView());
  EXPECT_EQ(s->preferredRecordingDeviceUUID().value_or(""), "JACK:system");
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(d.key), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(d.why), std::string::npos) << lines[0];
}

double averaging(AppSettings& s) { return static_cast<double>(s.averaging()); }
double smoothing(AppSettings& s) { return static_cast<double>(s.smoothingFactor()); }
double live(AppSettings& s) { return s.liveTraceThickness(); }
double captured(AppSettings& s) { return s.capturedTraceThickness(); }
double delay(AppSettings& s) { return s.delayValueMS(); }
double coherence(AppSettings& s) { return s.coherenceThreshold(); }
double meas(AppSettings& s) { return static_cast<double>(s.measChannelIndex()); }
double ref(AppSettings& s) { return static_cast<double>(s.refChannelIndex()); }
double side(AppSettings& s) { return static_cast<double>(s.delayedChannel()); }
double mapSize(AppSettings& s) { return s.channelMap() ? 1.0 : 0.0; }
double firstRun(AppSettings& s) { return s.firstStart() ? 1.0 : 0.0; }

// Averaging 0 stopped the program with an assertion at every start; a line width of
// hundreds of pixels painted the plots in one colour; an input past the device's last
// records silence; text where a number belongs is no number at all.
INSTANTIATE_TEST_SUITE_P(
    HandEdited, AppSettingsDamageTest,
    ::testing::Values(Damage{"AveragingIndexGlobal=0", "AveragingIndexGlobal", averaging, 100},
                      Damage{"AveragingIndexGlobal=1001", "AveragingIndexGlobal", averaging, 100},
                      Damage{"TFSmoothingFactor=7", "TFSmoothingFactor", smoothing, 24},
                      Damage{"LiveTraceThickness=500", "LiveTraceThickness", live, 2},
                      Damage{"CapturedTraceThickness=0", "CapturedTraceThickness", captured, 1},
                      Damage{"QVCurrentDelayMS=5000", "QVCurrentDelayMS", delay, 0},
                      Damage{"TFCoherenceThreshold=1.5", "TFCoherenceThreshold", coherence, 0.5},
                      Damage{"SelectedMeasChannelIndex=-1", "SelectedMeasChannelIndex", meas, 1},
                      Damage{"SelectedRefChannelIndex=100000", "SelectedRefChannelIndex", ref, 0},
                      Damage{"TFDelayedChannel=4", "TFDelayedChannel", side, 0},
                      Damage{"ChannelIndexMap=1, -5", "ChannelIndexMap", mapSize, 0},
                      Damage{"TFSmoothingFactor=twelve", "TFSmoothingFactor", smoothing, 24,
                             "wrong type"},
                      Damage{"LiveTraceThickness=nan", "LiveTraceThickness", live, 2, "wrong type"},
                      Damage{"QVFirstStart=maybe", "QVFirstStart", firstRun, 1, "wrong type"},
                      Damage{"ChannelIndexMap=1, x", "ChannelIndexMap", mapSize, 0, "wrong type"}),
    [](const auto& info) {
      std::string name;
      for (const char c : std::string(info.param.line))
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      return name;
    });

// The ends of every range are values the program itself writes: they read back as stored.
TEST_F(AppSettingsTest, TheEndsOfEachRangeReadBackAsStored) {
  qv::test::LogCapture log;
  for (const bool low : {true, false}) {
    auto s = open();
    s->setAveraging(low ? 1 : 1000);
    s->setSmoothingFactor(low ? 1 : 96);
    s->setLiveTraceThickness(low ? AppSettings::kMinTraceThickness
                                 : AppSettings::kMaxTraceThickness);
    s->setCapturedTraceThickness(low ? AppSettings::kMinTraceThickness
                                     : AppSettings::kMaxTraceThickness);
    s->setDelayValueMS(low ? -1000.0f : 1000.0f);
    s->setCoherenceThreshold(low ? 0.0f : 1.0f);
    s->setMeasChannelIndex(low ? 0 : AppSettings::kMaxInputChannels - 1);
    s->setRefChannelIndex(low ? 0 : AppSettings::kMaxInputChannels - 1);
    s->setDelayedChannel(low ? 0 : 1);
    s->sync();
    s = open();
    EXPECT_EQ(s->averaging(), low ? 1 : 1000);
    EXPECT_EQ(s->smoothingFactor(), low ? 1 : 96);
    EXPECT_FLOAT_EQ(s->liveTraceThickness(), low ? 0.5f : 6.0f);
    EXPECT_FLOAT_EQ(s->capturedTraceThickness(), low ? 0.5f : 6.0f);
    EXPECT_FLOAT_EQ(s->delayValueMS(), low ? -1000.0f : 1000.0f);
    EXPECT_FLOAT_EQ(s->coherenceThreshold(), low ? 0.0f : 1.0f);
    EXPECT_EQ(s->measChannelIndex(), low ? 0 : AppSettings::kMaxInputChannels - 1);
    EXPECT_EQ(s->delayedChannel(), low ? 0 : 1);
  }
  EXPECT_EQ(log.size(), 0u) << log.lines().front();
}

// Tests run with a private configuration folder; the shared store must live there and never
// in the user's own settings.
TEST(AppSettingsShared, LivesInTheTestsOwnConfigFolder) {
  EXPECT_TRUE(AppSettings::set().fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")))
      << AppSettings::set().fileName().toStdString();
}

}  // namespace
