// Where quorvex-analyze's outputs go: devices and standard output are written into, the
// regular files of one run are replaced together, and a run that ends by a signal leaves
// no temporary file behind (what a killed run leaves, the next write removes: OutputFileTest).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

class AnalyzeOutputTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    writeKnownSystem(dir.path("take.wav"), 48000, 0.5, 0.5f);
    ::chmod(dir.path("take.wav").c_str(), 0644);
  }

  TempDir dir;
};

// Neither needs a folder to write in, so an ordinary user may use both.
TEST_F(AnalyzeOutputTargets, TheNullDeviceAndStandardOutputWorkForAnOrdinaryUser) {
  const std::string user = asOrdinaryUser(dir);
  for (const char* stdoutName : {"/dev/stdout", "-"}) {
    const auto run =
        runAnalyze(dir, {"file", "take.wav", "--out", "/dev/null", "--json", stdoutName}, user);
    ASSERT_EQ(run.status, 0) << stdoutName << ": " << run.err;
    EXPECT_EQ(run.out.rfind("{\n  \"source\": \"take.wav\"", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
  // Two outputs into one stream would run into each other (the CSV goes to standard
  // output unless --out says otherwise).
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"file", "take.wav", "--json", "-"},
           {"file", "take.wav", "--out", "-", "--svg", "/dev/stdout"}}) {
    const auto run = runAnalyze(dir, args, user);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
}

TEST_F(AnalyzeOutputTargets, AFailingOutputLeavesTheOthersAsTheyWere) {
  { std::ofstream(dir.path("a.csv")) << "old"; }
  const auto run =
      runAnalyze(dir, {"file", "take.wav", "--out", "a.csv", "--svg", "missing/b.svg"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "quorvex-analyze: missing/b.svg: cannot write: No such file or directory\n");
  EXPECT_EQ(readFile(dir.path("a.csv")), "old");
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
}

// The run writes both files under their temporary names, then waits for a reader of the
// FIFO: a signal then finds two temporary files to remove.
class AnalyzeSignals : public AnalyzeOutputTargets {
 protected:
  std::unique_ptr<test::Program> startBlockedRun(int ignoredSignal = 0) {
    EXPECT_EQ(::mkfifo(dir.path("wait.svg").c_str(), 0666), 0);
    auto run = std::make_unique<test::Program>();
    EXPECT_TRUE(run->start({QV_ANALYZE_PATH, "file", "take.wav", "--out", "a.csv", "--json",
                            "b.json", "--svg", "wait.svg"},
                           {}, "/dev/null", dir.root(), ignoredSignal));
    const std::string ours = ".tmp-" + std::to_string(run->pid()) + "-";
    EXPECT_TRUE(test::waitUntil([&] { return namesWith(dir.root(), ours).size() == 2; }, 60));
    return run;
  }
};

class AnalyzeTerminatingSignal : public AnalyzeSignals,
                                 public ::testing::WithParamInterface<int> {};

TEST_P(AnalyzeTerminatingSignal, RemovesTheTemporaryFilesAndEndsByTheSignal) {
  auto run = startBlockedRun();
  run->signal(GetParam());
  EXPECT_EQ(run->wait(), 128 + GetParam());
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
  EXPECT_FALSE(fs::exists(dir.path("a.csv")));
  EXPECT_FALSE(fs::exists(dir.path("b.json")));
}

INSTANTIATE_TEST_SUITE_P(TermIntHupPipe, AnalyzeTerminatingSignal,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGPIPE));

// Started under nohup, a hang-up must not end the run. Had the hang-up not been ignored,
// it would end the run before the later TERM (the lower signal is delivered first).
TEST_F(AnalyzeSignals, AnIgnoredHangUpStaysIgnored) {
  auto run = startBlockedRun(SIGHUP);
  run->signal(SIGHUP);
  run->signal(SIGTERM);
  EXPECT_EQ(run->wait(), 128 + SIGTERM);
}

}  // namespace
}  // namespace qv::cli
