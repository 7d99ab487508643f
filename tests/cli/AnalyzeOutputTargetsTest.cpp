// Where quorvex-analyze's outputs go: regular files are replaced whole and together,
// links, FIFOs and devices are written into and stay what they are, and a run that ends
// by a signal leaves no temporary file behind (nor does the run after one that was killed).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <random>

#include "cli/ChildProgram.h"
#include "cli/RunProgram.h"
#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

bool isFifo(const std::string& path) { return fs::status(path).type() == fs::file_type::fifo; }

class AnalyzeOutputTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> frames(2 * 24000);
    for (size_t i = 0; i < frames.size(); i += 2) frames[i] = 0.5f * (frames[i + 1] = noise(gen));
    writeSoundFile(dir.path("take.wav"), 48000, 2, frames);
    ::chmod(dir.path("take.wav").c_str(), 0644);
  }

  TempDir dir;
};

// /dev/null and /dev/stdout need no folder to write in: an ordinary user may use them.
TEST_F(AnalyzeOutputTargets, TheNullDeviceAndStandardOutputWorkForAnOrdinaryUser) {
  for (const char* stdoutName : {"/dev/stdout", "-"}) {
    ChildProgram run(dir, {"file", "take.wav", "--out", "/dev/null", "--json", stdoutName},
                     {.asOrdinaryUser = true});
    const int status = run.wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << stdoutName << run.err();
    EXPECT_EQ(run.out().rfind("{\n  \"source\": \"take.wav\"", 0), 0u) << run.out();
    EXPECT_EQ(run.err(), "");
  }
  ChildProgram csv(dir, {"file", "take.wav", "--out", "/dev/stdout", "--svg", "/dev/null"},
                   {.asOrdinaryUser = true});
  ASSERT_EQ(csv.wait(), 0) << csv.err();
  EXPECT_EQ(csv.out().rfind("frequency_hz,magnitude_db,phase_deg,coherence\n", 0), 0u);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
  EXPECT_FALSE(fs::exists(dir.path("-")));
}

TEST_F(AnalyzeOutputTargets, OneStreamTakesOneOutput) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"file", "take.wav", "--json", "-"},  // the CSV goes to standard output already
           {"file", "take.wav", "--out", "-", "--svg", "/dev/stdout"},
       }) {
    ChildProgram run(dir, args, {.asOrdinaryUser = true});
    const int status = run.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_NE(run.err().find("name the same file"), std::string::npos) << run.err();
    EXPECT_EQ(run.out(), "");
  }
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
}

TEST_F(AnalyzeOutputTargets, LinksAndFifosAreWrittenIntoAndStayWhatTheyAre) {
  fs::create_directory(dir.path("real"));
  fs::create_symlink("real/curves.csv", dir.path("link.csv"));  // dangling: made on write
  fs::create_symlink(dir.path("real/summary.json"), dir.path("link.json"));
  { std::ofstream(dir.path("real/summary.json")) << "old"; }
  ASSERT_EQ(::mkfifo(dir.path("pipe.svg").c_str(), 0666), 0);
  std::atomic<bool> ended{false};
  auto svg = std::async(std::launch::async, [&] {
    return readFifo(dir.path("pipe.svg"), [&] { return ended.load(); });
  });

  const auto run = runAnalyze(
      dir, {"file", "take.wav", "--out", "link.csv", "--json", "link.json", "--svg", "pipe.svg"});
  ended = true;
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir.path("link.csv")));
  EXPECT_TRUE(fs::is_symlink(dir.path("link.json")));
  EXPECT_TRUE(isFifo(dir.path("pipe.svg")));
  EXPECT_EQ(readWholeFile(dir.path("real/curves.csv")).rfind("frequency_hz,", 0), 0u);
  EXPECT_EQ(readWholeFile(dir.path("real/summary.json")).rfind("{\n", 0), 0u);
  EXPECT_EQ(svg.get().rfind("<?xml", 0), 0u);
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
  EXPECT_TRUE(namesWith(dir.path("real"), ".tmp-").empty());
}

// The outputs are replaced together: when the last cannot be written, the first keeps
// what it held.
TEST_F(AnalyzeOutputTargets, AFailingOutputLeavesTheOthersAsTheyWere) {
  { std::ofstream(dir.path("a.csv")) << "old"; }
  const auto run =
      runAnalyze(dir, {"file", "take.wav", "--out", "a.csv", "--svg", "missing/b.svg"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "quorvex-analyze: missing/b.svg: cannot write: No such file or directory\n");
  EXPECT_EQ(readWholeFile(dir.path("a.csv")), "old");
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
}

// The run writes both files under their temporary names, then waits for a reader of the
// FIFO: a signal then finds two temporary files to remove.
class AnalyzeSignals : public AnalyzeOutputTargets {
 protected:
  std::unique_ptr<ChildProgram> startBlockedRun(const ChildOptions& options = {}) {
    if (!fs::exists(dir.path("wait.svg"))) {
      EXPECT_EQ(::mkfifo(dir.path("wait.svg").c_str(), 0666), 0);
    }
    auto run = std::make_unique<ChildProgram>(
        dir,
        std::vector<std::string>{"file", "take.wav", "--out", "a.csv", "--json", "b.json", "--svg",
                                 "wait.svg"},
        options);
    EXPECT_TRUE(waitForNames(dir.root(), ".tmp-" + std::to_string(run->pid()) + "-", 2));
    return run;
  }
};

class AnalyzeTerminatingSignal : public AnalyzeSignals,
                                 public ::testing::WithParamInterface<int> {};

TEST_P(AnalyzeTerminatingSignal, RemovesTheTemporaryFilesAndEndsByTheSignal) {
  const int signal = GetParam();
  auto run = startBlockedRun();
  run->signal(signal);
  const int status = run->wait();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
  EXPECT_FALSE(fs::exists(dir.path("a.csv")));
  EXPECT_FALSE(fs::exists(dir.path("b.json")));
}

INSTANTIATE_TEST_SUITE_P(TermIntHup, AnalyzeTerminatingSignal,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST_F(AnalyzeSignals, TheFilesOfAKilledRunAreRemovedByTheNextRunInThatFolder) {
  auto killed = startBlockedRun();
  killed->signal(SIGKILL);
  killed->wait();
  ASSERT_EQ(namesWith(dir.root(), ".tmp-").size(), 2u);
  // A name like ours whose process still runs (init's) is not ours to remove.
  { std::ofstream(dir.path("other.csv.tmp-1-0")) << "busy"; }

  const auto next = runAnalyze(dir, {"file", "take.wav", "--out", "c.csv"});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(namesWith(dir.root(), ".tmp-"), std::vector<std::string>{"other.csv.tmp-1-0"});
}

// Started under nohup, a hang-up must not end the run (nor remove its files).
TEST_F(AnalyzeSignals, AnIgnoredHangUpStaysIgnored) {
  auto run = startBlockedRun({.ignoredSignal = SIGHUP});
  run->signal(SIGHUP);
  const std::string svg = readFifo(dir.path("wait.svg"), [&] { return run->ended(); });
  const int status = run->wait();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << run->err();
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_TRUE(fs::exists(dir.path("a.csv")));
  EXPECT_TRUE(namesWith(dir.root(), ".tmp-").empty());
}

}  // namespace
}  // namespace qv::cli
