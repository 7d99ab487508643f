// The Debian package as a user gets it: its control fields, and its files unpacked into a
// scratch root with dpkg -x, where the programs run and the desktop files fit together.
#include <gtest/gtest.h>

#include <array>
#include <regex>

#include "package/UnpackedPackage.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::test {
namespace {

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { package = new UnpackedPackage(); }
  static void TearDownTestSuite() {
    delete package;
    package = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(package->ok()) << package->problem(); }

  static UnpackedPackage* package;
};
UnpackedPackage* PackageTest::package = nullptr;

TEST_F(PackageTest, ControlFieldsCarryTheVersionAndRealLibraryDependencies) {
  EXPECT_EQ(package->field("Package"), "quorvex");
  EXPECT_EQ(package->field("Version"), QV_VERSION);
  EXPECT_EQ(package->field("Architecture"), QV_DEB_ARCH);
  // dpkg-shlibdeps found these in the programs themselves: one library of each kind the
  // programs link.
  const std::string depends = package->field("Depends");
  for (const char* library :
       {"libc6 ", "libqt6widgets6 ", "libqt6dbus6 ", "libportaudio2 ", "libjack",
        "libfftw3-single3 ", "libsqlite3-0 ", "libsndfile1 ", "libsoxr0 ", "libasound2 "}) {
    EXPECT_NE(depends.find(library), std::string::npos) << library << " missing from " << depends;
  }
  EXPECT_EQ(depends.find("${"), std::string::npos) << depends;
}

TEST_F(PackageTest, ProgramsRunFromTheUnpackedRoot) {
  TempFolder home;
  const std::string env =
      "HOME=" + shellQuoted(home.path()) + " XDG_DATA_HOME=" + shellQuoted(home.path("data")) +
      " XDG_CACHE_HOME=" + shellQuoted(home.path("cache")) + " QUORVEX_FFTW_PLANNING=estimate";
  auto run = [&](const std::string& program, const std::string& args) {
    return runCommand(shellQuoted(package->root() + "/usr/bin/" + program) + " " + args,
                      home.path(), env, 60);
  };
  const CommandResult quorvex = run("quorvex", "--version");
  EXPECT_EQ(quorvex.status, 0) << quorvex.err;
  EXPECT_EQ(quorvex.out, "quorvex " QV_VERSION "\n");
  const CommandResult analyzeVersion = run("quorvex-analyze", "--version");
  EXPECT_EQ(analyzeVersion.status, 0) << analyzeVersion.err;
  EXPECT_EQ(analyzeVersion.out, "quorvex-analyze " QV_VERSION "\n");

  // The demo measures the virtual sound system, whose room the delay finder reads as
  // 132.885 samples at 44.1 kHz (3.013 ms), and writes its three files where it runs.
  const CommandResult demo = run("quorvex-analyze", "demo");
  ASSERT_EQ(demo.status, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("found 3.013 ms"), std::string::npos) << demo.out;
  for (const char* file : {"demo.csv", "demo.json", "demo.svg"})
    EXPECT_GT(readFile(home.path(file)).size(), 200u) << file;
}

TEST_F(PackageTest, DesktopEntryIconAndMetainfoFitTogether) {
  const std::string share = package->root() + "/usr/share";
  const std::string id = "org.quorvex.Quorvex";
  const std::string desktop = share + "/applications/" + id + ".desktop";
  const std::string metainfo = share + "/metainfo/" + id + ".metainfo.xml";

  const CommandResult validDesktop =
      runCommand("desktop-file-validate " + shellQuoted(desktop), package->scratch(), "", 30);
  EXPECT_EQ(validDesktop.status, 0) << validDesktop.out << validDesktop.err;
  const CommandResult validMetainfo = runCommand(
      "appstreamcli validate --no-net " + shellQuoted(metainfo), package->scratch(), "", 30);
  EXPECT_EQ(validMetainfo.status, 0) << validMetainfo.out << validMetainfo.err;

  // A menu finds the program and its icon by these names; a rename of one file breaks it.
  const std::string entry = readFile(desktop);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(entry, m, std::regex("\nExec=([^ \n]+)")));
  EXPECT_EQ(access((package->root() + "/usr/bin/" + m[1].str()).c_str(), X_OK), 0) << m[1];
  ASSERT_TRUE(std::regex_search(entry, m, std::regex("\nIcon=([^\n]+)")));
  EXPECT_EQ(m[1].str(), id);
  EXPECT_NE(entry.find("\nCategories=AudioVideo;Audio;"), std::string::npos);
  const std::string info = readFile(metainfo);
  EXPECT_NE(info.find("<launchable type=\"desktop-id\">" + id + ".desktop</launchable>"),
            std::string::npos);
  EXPECT_NE(info.find("<release version=\"" QV_VERSION "\""), std::string::npos);

  const std::string icons = share + "/icons/hicolor/";
  EXPECT_NE(readFile(icons + "scalable/apps/" + id + ".svg").find("<svg"), std::string::npos);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
    const std::string dim = std::to_string(size) + "x" + std::to_string(size);
    const std::string png = readFile(icons + dim + "/apps/" + id + ".png");
    // A PNG starts with its 8-byte signature and the IHDR chunk: width and height as
    // big-endian 32-bit numbers at bytes 16 and 20.
    ASSERT_GT(png.size(), 24u) << dim;
    EXPECT_EQ(png.substr(1, 3), "PNG") << dim;
    auto be32 = [&](size_t at) {
      uint32_t v = 0;
      for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
      return v;
    };
    EXPECT_EQ(be32(16), static_cast<uint32_t>(size)) << dim;
    EXPECT_EQ(be32(20), static_cast<uint32_t>(size)) << dim;
  }

  for (const char* doc :
       {"/usr/share/doc/quorvex/copyright", "/usr/share/doc/quorvex/changelog.gz",
        "/usr/share/man/man1/quorvex.1.gz", "/usr/share/man/man1/quorvex-analyze.1.gz",
        "/usr/share/bash-completion/completions/quorvex-analyze"}) {
    EXPECT_EQ(access((package->root() + doc).c_str(), R_OK), 0) << doc;
  }
}

}  // namespace
}  // namespace qv::test
