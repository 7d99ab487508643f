// A live measurement whose capture or generator never starts, or whose capture never
// delivers, ends with an error and writes nothing. The process's audio library runs the
// virtual device in simulated time here, so nothing arrives unless a test renders it; the
// device has eight stream slots per direction, and taking them all makes the next start
// fail as a busy device would.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "audiolib/AudioLibrary.h"
#include "cli/CliError.h"
#include "cli/Commands.h"
#include "cli/TestFiles.h"
#include "support/VirtualDevices.h"

namespace qv::cli {
namespace {

constexpr const char* kVirtualUID = "Virtual:Virtual Sound System";

class LiveFailure : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AudioLibrary::Options o = test::virtualOnly(true);
    // Fails only when an earlier test of this process created the library, with these options.
    AudioLibrary::configure(o);
  }
  Options live() const {
    Options o;
    o.command = Command::Live;
    o.inputDevice = kVirtualUID;
    o.seconds = 0.3;
    o.out = dir.path("out.csv");
    return o;
  }
  // The message the command fails with (main prints it as one line, with status 1), or ""
  // when it does not fail; the output is never written.
  std::string failure(const Options& options) {
    std::string message;
    try {
      runCommand(options);
    } catch (const CliError& e) {
      message = std::string("(status 2) ") + e.what();
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.csv")));
    return message;
  }

  TempDir dir;
  AudioLibrary& library = AudioLibrary::shared();
};

TEST_F(LiveFailure, ACaptureThatCannotStartIsAnError) {
  ASSERT_TRUE(library.recordInit(0) || AudioLibrary::errorCode() == kAudioErrorAlready);
  std::vector<uint32_t> busy;
  for (uint32_t h; (h = library.recordStart(44100, 2, true, 125, nullptr)) != 0;) busy.push_back(h);
  ASSERT_EQ(busy.size(), 8u);
  EXPECT_NE(failure(live()).find("the capture on 'Virtual:Virtual Sound System' could not start"),
            std::string::npos);
  for (uint32_t h : busy) library.channelFree(h);
}

TEST_F(LiveFailure, AGeneratorThatCannotStartIsAnError) {
  ASSERT_TRUE(library.init(1, 44100) || AudioLibrary::errorCode() == kAudioErrorAlready);
  std::vector<uint32_t> busy;
  for (uint32_t h; (h = library.streamCreate(44100, nullptr)) != 0;) busy.push_back(h);
  ASSERT_EQ(busy.size(), 8u);
  Options options = live();
  options.generatorDevice = kVirtualUID;
  EXPECT_NE(failure(options).find("the generator could not start"), std::string::npos);
  for (uint32_t h : busy) library.channelFree(h);
}

TEST_F(LiveFailure, ACaptureThatNeverDeliversIsAnErrorAndNothingIsWritten) {
  EXPECT_NE(failure(live()).find("no audio arrived from 'Virtual:Virtual Sound System'"),
            std::string::npos);
}

}  // namespace
}  // namespace qv::cli
