// The desktop program on a real display server: X11 (Xvfb) and Wayland (a headless weston),
// each started by the test with a runtime folder of its own. The window must come back at
// the size it was closed with, and live curves must be drawn, on both.
#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QSettings>
#include <algorithm>
#include <sstream>

#include "gui/support/GuiTestSupport.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::test {
namespace {

constexpr const char* kGeometryKey = "MainWindowGeometry";

class DisplayServerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    runtime = dir.path("runtime");
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    if (GetParam() == "wayland") {
      if (!onPath("weston")) GTEST_SKIP() << "weston is not installed (scripts/deps installs it)";
      const QString plugin =
          QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
      if (!QFile::exists(plugin))
        GTEST_SKIP() << "Qt's Wayland platform is not installed (qt6-wayland)";
      ASSERT_TRUE(
          compositor.start({"weston", "--backend=headless-backend.so", "--socket=quorvex-test",
                            "--width=1600", "--height=1000", "--idle-time=0"},
                           {{"XDG_RUNTIME_DIR", runtime}}, dir.path("weston.log")));
      const bool up =
          waitUntil([&] { return access((runtime + "/quorvex-test").c_str(), F_OK) == 0; }, 15);
      if (!up) GTEST_SKIP() << "weston did not start here: " << readFile(dir.path("weston.log"));
    } else {
      if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (scripts/deps installs it)";
      // Xvfb picks a free display and prints its number once it accepts clients.
      ASSERT_TRUE(compositor.start(
          {"Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"}, {},
          dir.path("xvfb.log")));
      const bool up = waitUntil(
          [&] {
            std::istringstream log(readFile(dir.path("xvfb.log")));
            for (std::string line; std::getline(log, line);) {
              if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                display = ":" + line;
                return true;
              }
            }
            return false;
          },
          15);
      if (!up) GTEST_SKIP() << "Xvfb did not start here: " << readFile(dir.path("xvfb.log"));
    }
  }

  // The command line and environment that run `quorvex` on this test's display server.
  std::vector<std::string> command(const std::vector<std::string>& args) const {
    std::vector<std::string> c = {QV_QUORVEX_PATH};
    c.insert(c.end(), args.begin(), args.end());
    return c;
  }
  std::map<std::string, std::string> environment() const {
    std::map<std::string, std::string> env = {
        {"QT_QPA_PLATFORM", GetParam()},
        {"XDG_RUNTIME_DIR", runtime},
        {"XDG_CONFIG_HOME", dir.path("config")},
        {"XDG_DATA_HOME", dir.path("data")},
        {"XDG_CACHE_HOME", dir.path("cache")},
        {"QUORVEX_DATA_DIR", dir.path("data/Quorvex")},
        {"QUORVEX_FFTW_PLANNING", "estimate"},
        {"WAYLAND_DISPLAY", GetParam() == "wayland" ? "quorvex-test" : ""},
        {"DISPLAY", display},
    };
    return env;
  }
  QString settingsFile() const {
    return QString::fromStdString(dir.path("config/Quorvex/Quorvex.conf"));
  }

  TempFolder dir;
  std::string runtime;
  std::string display;  // X11's, empty under Wayland
  Program compositor;   // the Wayland compositor or the X server
};

// A window frame as QWidget::saveGeometry keeps it (format 3.0): made by hand, because
// Qt refuses a frame kept on a screen of another width, and the test's own offscreen
// screen is narrower than the display servers'.
constexpr quint32 kFrameMagic = 0x1D9D0CB;

// The frame an earlier session kept on a 1600-pixel-wide screen: 1000 x 700 at (300, 200),
// a place that a Wayland client can neither read nor set.
QByteArray keptFrame() {
  QByteArray frame;
  QDataStream out(&frame, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_4_0);
  const QRect place(300, 200, 1000, 700);
  out << kFrameMagic << quint16(3) << quint16(0) << place << place << qint32(0) << quint8(0)
      << quint8(0) << qint32(1600) << place;
  return frame;
}

// The size of the window's normal (not maximised) frame in a kept frame.
QSize keptSize(const QByteArray& frame) {
  QDataStream in(frame);
  in.setVersion(QDataStream::Qt_4_0);
  quint32 magic = 0;
  quint16 major = 0, minor = 0;
  QRect outer, normal;
  in >> magic >> major >> minor >> outer >> normal;
  if (magic != kFrameMagic || in.status() != QDataStream::Ok) return {};
  return normal.size();
}

TEST_P(DisplayServerTest, TheWindowComesBackAtItsSizeAndShowsLiveCurves) {
  {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue("SelectedRecordingDedviceUUID", "Virtual:Virtual Sound System");
    settings.setValue("SelectedPlaybackDedviceUUID", "Virtual:Virtual Sound System");
    settings.setValue("SelectedMeasChannelIndex", 0);
    settings.setValue("SelectedRefChannelIndex", 1);
    settings.setValue(kGeometryKey, keptFrame());
  }
  const std::string png = dir.path("quorvex.png");
  Program quorvex;
  ASSERT_TRUE(quorvex.start(command({"--screenshot", png, "--after", "6"}), environment(),
                            dir.path("quorvex.log")));
  ASSERT_EQ(quorvex.wait(60), 0) << readFile(dir.path("quorvex.log"));

  QImage shot(QString::fromStdString(png));
  ASSERT_FALSE(shot.isNull()) << readFile(dir.path("quorvex.log"));
  QDir().mkpath(QStringLiteral(QV_SCREENSHOT_DIR));
  shot.save(
      QStringLiteral(QV_SCREENSHOT_DIR "/quorvex-%1.png").arg(QString::fromStdString(GetParam())));
  EXPECT_EQ(shot.size(), QSize(1000, 700));
  // Live curves, not just a frame: magnitude and phase in white, coherence in orange.
  const guitest::CurvePixels pixels(shot);
  EXPECT_GT(pixels.white, 800);
  EXPECT_GT(pixels.orange, 150);

  // What the program kept at its end brings the same size back.
  const QSettings kept(settingsFile(), QSettings::IniFormat);
  EXPECT_EQ(keptSize(kept.value(kGeometryKey).toByteArray()), QSize(1000, 700));
}

INSTANTIATE_TEST_SUITE_P(Platforms, DisplayServerTest, ::testing::Values("wayland", "xcb"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace qv::test
