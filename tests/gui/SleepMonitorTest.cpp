#include "support/ShellTestSupport.h"
// (the support header goes first)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QMainWindow>

#include "audio/QXDeviceManager.h"
#include "gui/app/AppCoordinator.h"
#include "support/GuiTestSupport.h"

extern char** environ;

namespace qv::gui {
namespace {

using guitest::processEventsFor;
using guitest::processEventsUntil;

// A private message bus for the test, stopped by its pid.
class PrivateBus {
 public:
  PrivateBus() {
    address_ = "unix:path=" + dir_.filePath("bus").toStdString();
    std::vector<std::string> args = {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                     "--address=" + address_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ != 0) {
      processEventsUntil([&] { return QFileInfo::exists(dir_.filePath("bus")); }, 5000);
    }
  }
  ~PrivateBus() {
    for (const auto& name : connections_) QDBusConnection::disconnectFromBus(name);
    if (pid_ != 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  bool running() const { return pid_ != 0 && QFileInfo::exists(dir_.filePath("bus")); }
  QDBusConnection connect(const QString& name) {
    connections_.push_back(name);
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
  }

 private:
  QTemporaryDir dir_;
  std::string address_;
  pid_t pid_ = 0;
  std::vector<QString> connections_;
};

void prepareForSleep(QDBusConnection& from, bool sleeping) {
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                   QStringLiteral("org.freedesktop.login1.Manager"),
                                                   QStringLiteral("PrepareForSleep"));
  signal << sleeping;
  ASSERT_TRUE(from.send(signal));
}

class SleepTest : public ::testing::Test {
 protected:
  SleepTest() : library_(guitest::virtualOnlyLibrary()) {}
  void launch(QDBusConnection bus) {
    coordinator_ = std::make_unique<AppCoordinator>(settings_.get(), &library_);
    coordinator_->setMainViewController(&analysis_);
    coordinator_->setSleepBus(std::move(bus));
    coordinator_->appWillFinishLaunching();
    coordinator_->appDidFinishLaunching();
    ASSERT_TRUE(processEventsUntil([&] { return analysis_.running; }, 5000));
  }
  void TearDown() override {
    analysis_.manager.reset();
    coordinator_.reset();
  }

  guitest::TestSettings settings_;
  AudioLibrary library_;
  guitest::FakeAnalysis analysis_;
  std::unique_ptr<AppCoordinator> coordinator_;
};

TEST_F(SleepTest, LogindsSleepSignalStopsTheAnalysisAndWakingOnlySaysSo) {
  PrivateBus bus;
  if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not start a private bus here";
  guitest::LogCapture log;
  launch(bus.connect(QStringLiteral("quorvex")));
  ASSERT_TRUE(coordinator_->isObservingSleep());
  QDBusConnection logind = bus.connect(QStringLiteral("logind"));

  // Anyone but logind is not listened to.
  prepareForSleep(logind, true);
  processEventsFor(300);
  EXPECT_TRUE(analysis_.running);
  EXPECT_EQ(log.count("Workspace will sleep"), 0);

  ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
  processEventsFor(100);
  prepareForSleep(logind, true);
  ASSERT_TRUE(processEventsUntil([&] { return log.count("Workspace will sleep") == 1; }, 5000));
  EXPECT_FALSE(analysis_.running);

  prepareForSleep(logind, false);
  ASSERT_TRUE(processEventsUntil([&] { return log.count("Workspace did wake") == 1; }, 5000));
  EXPECT_FALSE(analysis_.running);  // waking restarts nothing by itself

  // After termination the program no longer listens.
  coordinator_->appWillTerminate();
  EXPECT_FALSE(coordinator_->isObservingSleep());
  prepareForSleep(logind, true);
  processEventsFor(300);
  EXPECT_EQ(log.count("Workspace will sleep"), 1);
}

TEST_F(SleepTest, WithoutABusTheProgramRunsAndSaysNothing) {
  guitest::LogCapture log;
  launch(QDBusConnection(QStringLiteral("no-bus")));
  EXPECT_FALSE(coordinator_->isObservingSleep());
  EXPECT_TRUE(analysis_.running);
  EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace qv::gui
