// A live run whose JACK server is killed under it: the program names the device and why on
// one line, writes what it measured until then, counts lost audio in the JSON, and exits
// with the status of its own that the manual gives a lost device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "cli/TestFiles.h"
#include "integration/JackServer.h"

namespace qv::cli {
namespace {

using qv::test::JackServer;

// Named before main, so that no thread of the process can be reading the environment.
JackServer gServer("qvclilost-" + std::to_string(getpid()));

TEST(LiveDeviceLossTest, AKilledServerEndsTheRunWithItsOwnStatusAndCompleteOutputs) {
  ASSERT_TRUE(gServer.start());
  TempDir dir;
  ProgramRun run;
  std::thread program([&] {
    run = runAnalyze(dir, {"live", "--input", "JACK Audio Connection Kit:system", "--seconds", "60",
                           "--out", "tf.csv", "--json", "summary.json"});
  });
  // Measuring once its inputs are on the server and some audio has gone through.
  bool measuring = false;
  for (int i = 0; i < 400 && !measuring; ++i) {
    for (const auto& port : JackServer::ports("quorvex")) measuring |= port == "measurement";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  gServer.stop();
  program.join();
  ASSERT_TRUE(measuring) << run.err;

  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(run.err.find("the capture device \u201CJACK\u201D went away after"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("(its server stopped or it was unplugged)"), std::string::npos) << run.err;
  const std::string csv = readFile(dir.path("tf.csv"));
  EXPECT_EQ(csv.rfind("frequency_hz,magnitude_db,phase_deg,coherence\n", 0), 0u);
  EXPECT_GT(csv.size(), 1000u);
  const std::string json = readFile(dir.path("summary.json"));
  for (const char* field : {"\"dropped_frames\": ", "\"xruns\": ", "\"averaging_label\": "})
    EXPECT_NE(json.find(field), std::string::npos) << field << json;
  EXPECT_EQ(json.find("\"frames_analysed\": 0,"), std::string::npos) << json;
}

}  // namespace
}  // namespace qv::cli
