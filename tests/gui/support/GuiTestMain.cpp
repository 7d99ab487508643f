// The GUI test programs: the offscreen platform unless told otherwise, a private home for
// settings, traces and caches (never the user's), a QApplication and the main queue on
// its event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <string>

#include "gui/app/QtMainQueue.h"
#include "support/TempFolder.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Tests need correct transforms, not the fastest plans.
  if (!std::getenv("QUORVEX_FFTW_PLANNING")) setenv("QUORVEX_FFTW_PLANNING", "estimate", 1);

  const qv::test::TempFolder folder;  // under QUORVEX_TEST_TMP when it is set
  const std::string home = folder.root();
  if (home.empty()) return 1;
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("QUORVEX_DATA_DIR", (home + "/data/Quorvex").c_str(), 1);
  setenv("QUORVEX_TEST_HOME", home.c_str(), 1);
  const std::string runtime = home + "/runtime";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

  int status;
  {
    QApplication app(argc, argv);
    qv::gui::QtMainQueue::install();
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
    qv::gui::QtMainQueue::uninstall();
  }
  return status;
}
