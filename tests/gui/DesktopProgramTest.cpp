// The desktop program as a user runs it. The `quorvex` executable is started on the
// virtual sound system with a fresh settings file and trace database; sessions that need
// typed keys run the same main interface in a child of this test program (one process
// per start, so a restart is a real one and kill -9 kills a real process).
// clang-format off
#include "support/ShellTestSupport.h"
#include "engine/AveragingChoice.h"
#include "traces/TraceManager.h"
// clang-format on
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gui/app/AlertAsker.h"
#include "gui/app/MainInterface.h"
#include "gui/app/QVMainViewController.h"
#include "gui/display/QVPlotController.h"
#include "gui/display/QVPlotViewController.h"
#include "gui/display/SpectrumPlotView.h"
#include "gui/display/TraceLegend.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceManagerViewController.h"
#include "gui/traces/TraceShotCellView.h"
#include "support/GuiTestSupport.h"

namespace qv::gui {
namespace {

using guitest::processEventsFor;
using guitest::processEventsUntil;
using guitest::typeKey;

constexpr const char* kStepVariable = "QV_SESSION_STEP";
constexpr const char* kHomeVariable = "QV_SESSION_HOME";

// ---- a fresh home for one program's settings and traces ----

struct Home {
  QTemporaryDir dir;
  QString config() const { return dir.filePath("config"); }
  QString data() const { return dir.filePath("data/Quorvex"); }
  QString settingsFile() const { return config() + "/Quorvex/Quorvex.conf"; }
  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config());
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QUORVEX_DATA_DIR", data());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert(kHomeVariable, dir.path());
    return env;
  }
  // What the program left in its settings file.
  QVariant setting(const QString& key) const {
    return QSettings(settingsFile(), QSettings::IniFormat).value(key);
  }
  size_t storedTraces() const {
    TraceManager reader(data().toStdString());
    reader.start();
    return reader.allTraceShots().count();
  }
};

std::string outputOf(QProcess& p) {
  return (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
}

// ---- the quorvex executable ----

#ifdef QV_QUORVEX_PATH
const QString kQuorvex = QStringLiteral(QV_QUORVEX_PATH);
#else
const QString kQuorvex;
#endif

TEST(QuorvexProgram, AHandDamagedSettingsFileStartsOnTheDefaultsOfWhatIsDamaged) {
  ASSERT_FALSE(kQuorvex.isEmpty());
  Home home;
  QByteArray tinyFrame;
  {
    QWidget w;
    w.setGeometry(60, 60, 1, 19);
    tinyFrame = w.saveGeometry();
  }
  {
    QSettings file(home.settingsFile(), QSettings::IniFormat);
    file.setValue("QVFirstStart", false);
    file.setValue("SelectedRecordingDedviceUUID", "Virtual:Virtual Sound System");
    file.setValue("SelectedPlaybackDedviceUUID", "Virtual:Virtual Sound System");
    file.setValue("AveragingIndexGlobal", 0);       // stopped every start with an assertion
    file.setValue("LiveTraceThickness", 400.0);     // painted the plots in one colour
    file.setValue("SelectedMeasChannelIndex", 40);  // the device has two inputs
    file.setValue("SelectedRefChannelIndex", 1);
    file.setValue("TFSmoothingFactor", 6);  // sound: kept
    file.setValue(MainInterface::kGeometryKey, tinyFrame);
  }
  const QString png = home.dir.filePath("quorvex.png");
  QProcess p;
  p.setProcessEnvironment(home.environment());
  p.start(kQuorvex, {"--screenshot", png, "--after", "3"});
  ASSERT_TRUE(p.waitForFinished(90000)) << outputOf(p);
  const std::string log = outputOf(p);
  ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << log;
  EXPECT_EQ(p.exitCode(), 0) << log;

  // One line for each value dropped.
  for (const char* key :
       {"AveragingIndexGlobal", "LiveTraceThickness", "window frame", "inputs 41 and 2"}) {
    size_t lines = 0;
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) ++lines;
    EXPECT_EQ(lines, 1u) << key << " in:\n" << log;
  }
  EXPECT_EQ(home.setting("TFSmoothingFactor").toInt(), 6);
  EXPECT_EQ(home.setting("SelectedMeasChannelIndex").toInt(), 0);

  QImage shot(png);
  ASSERT_FALSE(shot.isNull());
  EXPECT_GE(shot.width(), 640);
  EXPECT_GE(shot.height(), 400);
  guitest::saveScreenshot(shot, QStringLiteral("quorvex-damaged-settings"));
  // Thin live curves over a measurement input that hears the room.
  const guitest::CurvePixels pixels(shot);
  EXPECT_GT(pixels.white, 1000);
  EXPECT_LT(pixels.white, pixels.all / 10);
  EXPECT_GT(pixels.orange, 200);
}

// TERM from a session manager, HUP from a closed terminal: both end the program in order.
class QuorvexTermination : public ::testing::TestWithParam<int> {};

TEST_P(QuorvexTermination, StopsInOrderAndKeepsTheWindowFrame) {
  ASSERT_FALSE(kQuorvex.isEmpty());
  Home home;
  QProcess p;
  p.setProcessEnvironment(home.environment());
  p.start(kQuorvex, {});
  ASSERT_TRUE(p.waitForStarted());
  ASSERT_TRUE(processEventsUntil(
      [&] { return std::abs(home.setting("QVCurrentDelayMS").toDouble() - 3.0133) < 0.005; },
      30000))
      << "the running program never set the delay";
  EXPECT_TRUE(home.setting(MainInterface::kGeometryKey).isNull());  // kept only when it ends
  ::kill(static_cast<pid_t>(p.processId()), GetParam());
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << outputOf(p);
  EXPECT_EQ(p.exitCode(), 0) << outputOf(p);
  EXPECT_TRUE(home.setting("ShouldRunOnStart").toBool());  // it runs again next time
  EXPECT_FALSE(home.setting(MainInterface::kGeometryKey).toByteArray().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Signals, QuorvexTermination, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGHUP ? "Hup" : "Term");
                         });

TEST(QuorvexProgram, VersionAndHelpNeedNoDisplayAndMistakesSayWhat) {
  ASSERT_FALSE(kQuorvex.isEmpty());
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  p.setProcessEnvironment(env);
  p.start(kQuorvex, {"--version"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_EQ(p.readAllStandardOutput().trimmed(), QByteArray("quorvex " QV_VERSION));
  p.start(kQuorvex, {"--help"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().contains("--screenshot FILE"));
  p.start(kQuorvex, {"--screenshot"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 2);
  const QByteArray error = p.readAllStandardError();
  EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
}

// ---- sessions of the main interface in a child process ----

class Answering final : public AlertAsker {
 public:
  bool confirm(const QString&, const QString&) override { return true; }
  void inform(const QString&, const QString&) override {}
};

// Runs one step in a child process; true when it passed.
bool runStep(const Home& home, const QString& step, std::string* output) {
  QProcess p;
  QProcessEnvironment env = home.environment();
  env.insert(kStepVariable, step);
  p.setProcessEnvironment(env);
  p.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=DesktopSessionStep.Run"});
  const bool finished = p.waitForFinished(120000);
  *output = outputOf(p);
  return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
         output->find("[  PASSED  ] 1 test") != std::string::npos;
}

class Session {
 public:
  Session() {
    MainInterface::Options options;
    options.sleepBus = QDBusConnection(QStringLiteral("no-bus"));
    options.alertAsker = std::make_unique<Answering>();
    ui = std::make_unique<MainInterface>(std::move(options));
  }
  QVMainViewController* view() const { return ui->mainViewController(); }
  bool runsWithTheRoomsDelay() {
    return processEventsUntil(
        [&] { return view()->started() && std::abs(view()->delayMS() - 3.0133) < 0.005; }, 10000);
  }
  int panelRows() const {
    TraceManagerViewController* panel = ui->traceManagerViewController();
    return panel ? panel->model()->rowCount() : -1;
  }
  std::unique_ptr<MainInterface> ui;
};

void captureStep() {
  Session s;
  s.ui->launch();
  s.ui->window()->resize(1400, 900);
  ASSERT_TRUE(s.runsWithTheRoomsDelay()) << "delay " << s.view()->delayMS();
  // The curves move.
  QWidget* plots = s.view()->outlets().plotBaseView;
  const QImage before = plots->grab().toImage();
  processEventsFor(500);
  EXPECT_NE(before, plots->grab().toImage());

  s.view()->actionForTag(QVMainViewController::kTagTraceManager)->trigger();  // View menu
  ASSERT_EQ(s.panelRows(), 0);
  s.view()->actionForTag(QVMainViewController::kTagSmoothingBase + 6)->trigger();
  processEventsFor(1500);  // the averages settle with the delay and the smoothing in place
  typeKey(s.ui->window(), Qt::Key_C, QStringLiteral("c"));
  ASSERT_TRUE(processEventsUntil([&] { return s.panelRows() == 1; }, 5000));
  ASSERT_EQ(TraceManager::shared().allTraceShots().count(), 1u);
  // The panel and the plot's legend give the capture one name; the panel reads the
  // averaging in words at the measurement's own display rate.
  TraceManagerViewController* panel = s.ui->traceManagerViewController();
  const QString name = panel->cellForRow(0)->primaryTitle();
  EXPECT_TRUE(name.startsWith("TF 1 \u2014 ")) << name.toStdString();
  const auto& legend = s.view()->plotController()->legend()->entries();
  ASSERT_EQ(legend.size(), 2u);
  EXPECT_EQ(legend[1].text, name);
  EXPECT_EQ(panel->averagingLabel()->text().toStdString(),
            AveragingChoice::label(static_cast<int>(AppSettings::set().averaging()),
                                   s.view()->session().displayInterval()));
  // The capture names the delay in force, and its curve is the room's: direct sound (0.5)
  // and one reflection (0.2) give -10.5 dB to -3.1 dB in the pass band.
  const TraceShot& shot = TraceManager::shared().allTraceShots()[0];
  EXPECT_NE(shot.comment.value_or("").find("delay: 3.01 ms"), std::string::npos)
      << shot.comment.value_or("");
  const auto magnitude = TraceShot::floatsFromBlob(shot.magnitudeData.value_or(Bytes{}));
  EXPECT_GT(std::count_if(magnitude.begin(), magnitude.end(),
                          [](float m) { return std::isfinite(m) && m > -13.0f && m < -1.0f; }),
            static_cast<std::ptrdiff_t>(magnitude.size() / 2));
  processEventsFor(300);
  guitest::saveScreenshot(*s.ui->window(), QStringLiteral("quorvex-main-window"));
  // Quitting: what the application runs before its event loop ends.
  s.ui->terminate();
}

void reopenStep() {
  Session s;
  // Restored before anything runs.
  EXPECT_NEAR(s.view()->delayMS(), 3.0133, 0.005);
  EXPECT_EQ(s.view()->plotController()->smoothing(), 6);
  s.ui->launch();
  ASSERT_TRUE(s.runsWithTheRoomsDelay());
  ASSERT_EQ(s.panelRows(), 1) << "the panel did not open with the window";
  const TraceShot& shot = TraceManager::shared().allTraceShots()[0];
  ASSERT_TRUE(shot.uuid.has_value());
  const auto& mag = s.view()->plotViewController()->magPlotView()->chartList();
  EXPECT_NE(mag.chartWithID(*shot.uuid), nullptr) << "the stored trace is not drawn";
  s.ui->terminate();
}

// Captures until killed, saying after each capture how many rows the panel shows.
void captureUntilKilledStep() {
  Session s;
  AppSettings::set().setShowTraceManager(true);
  s.ui->launch();
  ASSERT_TRUE(processEventsUntil([&] { return s.view()->started(); }, 10000));
  for (int shown = s.panelRows(); shown < 400;) {
    typeKey(s.ui->window(), Qt::Key_C, QStringLiteral("c"));
    if (!processEventsUntil([&] { return s.panelRows() > shown; }, 3000)) break;
    shown = s.panelRows();
    std::printf("shown %d\n", shown);
    std::fflush(stdout);
  }
}

TEST(DesktopSessionStep, Run) {
  const char* step = std::getenv(kStepVariable);
  const char* home = std::getenv(kHomeVariable);
  if (!step || !home) GTEST_SKIP() << "a step of the DesktopProgram tests, run by them";
  // Before anything opens the settings or the store.
  setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (std::string(home) + "/data").c_str(), 1);
  setenv("QUORVEX_DATA_DIR", (std::string(home) + "/data/Quorvex").c_str(), 1);
  const std::string which = step;
  if (which == "capture") captureStep();
  if (which == "reopen") reopenStep();
  if (which == "capture-until-killed") captureUntilKilledStep();
}

TEST(DesktopProgram, ACaptureSurvivesQuitAndTheNextStartShowsItWithTheSettingsAsLeft) {
  Home home;
  std::string output;
  ASSERT_TRUE(runStep(home, "capture", &output)) << output;
  EXPECT_EQ(home.storedTraces(), 1u);
  EXPECT_EQ(home.setting("TFSmoothingFactor").toInt(), 6);
  EXPECT_TRUE(home.setting("QVShowTraceManager").toBool());
  ASSERT_TRUE(runStep(home, "reopen", &output)) << output;
}

TEST(DesktopProgram, KillNineWhileCapturingLosesNoTraceThePanelShowed) {
  Home home;
  QProcess p;
  QProcessEnvironment env = home.environment();
  env.insert(kStepVariable, "capture-until-killed");
  p.setProcessEnvironment(env);
  p.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=DesktopSessionStep.Run"});
  ASSERT_TRUE(p.waitForStarted());
  int shown = 0;
  QByteArray pending;
  while (shown < 12 && p.state() == QProcess::Running) {
    p.waitForReadyRead(200);
    pending += p.readAllStandardOutput();
    int end;
    while ((end = pending.indexOf('\n')) >= 0) {
      const QByteArray line = pending.left(end);
      pending.remove(0, end + 1);
      if (line.startsWith("shown ")) shown = line.mid(6).toInt();
    }
  }
  ASSERT_GE(shown, 12) << "the child stopped: " << outputOf(p);
  // The next capture is already under way.
  ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_GE(home.storedTraces(), static_cast<size_t>(shown));
}

}  // namespace
}  // namespace qv::gui
