#include "support/ShellTestSupport.h"
// (the support header goes first)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMainWindow>

#include "audio/QXDeviceManager.h"
#include "gui/app/AppCoordinator.h"
#include "gui/app/SleepMonitor.h"
#include "support/GuiTestSupport.h"

extern char** environ;

namespace qv::gui {
namespace {

using guitest::processEventsUntil;

// Bounds for waits on events; none is a measure of time.
constexpr int kStartBound = 20000;
constexpr int kSignalBound = 10000;

// A private message bus for the test, stopped by its pid. The daemon prints its address
// once it accepts connections; the bus counts as running only after that.
class PrivateBus {
 public:
  PrivateBus() {
    address_ = "unix:path=" + dir_.filePath("bus").toStdString();
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {"dbus-daemon", "--session",         "--nofork",
                                     "--nopidfile", "--print-address=3", "--address=" + address_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    if (pid_ != 0) {
      pollfd wait{ready[0], POLLIN, 0};
      char line[256];
      accepting_ = poll(&wait, 1, kStartBound) == 1 && read(ready[0], line, sizeof line) > 0;
    }
    close(ready[0]);
  }
  ~PrivateBus() {
    for (const auto& name : connections_) QDBusConnection::disconnectFromBus(name);
    if (pid_ != 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  bool running() const { return accepting_; }
  QDBusConnection connect(const QString& name) {
    connections_.push_back(name);
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
  }

 private:
  QTemporaryDir dir_;
  std::string address_;
  pid_t pid_ = 0;
  bool accepting_ = false;
  std::vector<QString> connections_;
};

void prepareForSleep(QDBusConnection& from, bool sleeping) {
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                   QStringLiteral("org.freedesktop.login1.Manager"),
                                                   QStringLiteral("PrepareForSleep"));
  signal << sleeping;
  ASSERT_TRUE(from.send(signal));
}

// Sends a method call and waits for its answer: once the bus has answered, it has passed
// on every message the connection sent before (a connection's messages stay in order).
void roundTrip(QDBusConnection& connection) {
  ASSERT_TRUE(connection.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus")));
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
    ASSERT_TRUE(processEventsUntil([&] { return analysis_.running; }, kStartBound));
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

// Every step waits for an event, never for a time: a probe listens on the program's own
// connection, where signals arrive in the order logind sent them, so once the probe has
// heard a signal the program has heard it (and everything before it) too.
TEST_F(SleepTest, LogindsSleepSignalStopsTheAnalysisAndWakingOnlySaysSo) {
  PrivateBus bus;
  if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not start a private bus here";
  guitest::LogCapture log;
  // logind holds its name before the program listens, so the program learns the owner when
  // it connects; a name taken later is learnt from a notice that may be handled only after
  // a signal already waiting behind it.
  QDBusConnection logind = bus.connect(QStringLiteral("logind"));
  ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")))
      << logind.isConnected() << " " << logind.lastError().message().toStdString();
  QDBusConnection program = bus.connect(QStringLiteral("quorvex"));
  launch(program);
  ASSERT_TRUE(coordinator_->isObservingSleep());
  int probeSleeps = 0;
  int probeWakes = 0;
  SleepMonitor probe(
      program, [&] { ++probeSleeps; }, [&] { ++probeWakes; });
  ASSERT_TRUE(probe.isListening());
  const auto heard = [&](int sleeps, int wakes) {
    return processEventsUntil([&] { return probeSleeps == sleeps && probeWakes == wakes; },
                              kSignalBound);
  };

  // Anyone but logind is not listened to: the impostor's signal reaches the program before
  // logind's wake does, and changes nothing.
  QDBusConnection impostor = bus.connect(QStringLiteral("impostor"));
  prepareForSleep(impostor, true);
  roundTrip(impostor);
  prepareForSleep(logind, false);
  ASSERT_TRUE(heard(0, 1));
  EXPECT_EQ(log.count("Workspace did wake"), 1);
  EXPECT_EQ(log.count("Workspace will sleep"), 0);
  EXPECT_TRUE(analysis_.running);

  prepareForSleep(logind, true);
  ASSERT_TRUE(heard(1, 1));
  EXPECT_EQ(log.count("Workspace will sleep"), 1);
  EXPECT_FALSE(analysis_.running);

  prepareForSleep(logind, false);
  ASSERT_TRUE(heard(1, 2));
  EXPECT_EQ(log.count("Workspace did wake"), 2);
  EXPECT_FALSE(analysis_.running);  // waking restarts nothing by itself

  // After termination the program no longer listens.
  coordinator_->appWillTerminate();
  EXPECT_FALSE(coordinator_->isObservingSleep());
  prepareForSleep(logind, true);
  prepareForSleep(logind, false);
  ASSERT_TRUE(heard(2, 3));
  EXPECT_EQ(log.count("Workspace will sleep"), 1);
  EXPECT_EQ(log.count("Workspace did wake"), 2);
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
