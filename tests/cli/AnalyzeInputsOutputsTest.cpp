// quorvex-analyze at the edges of what it accepts: sampling rates, outputs that would
// overwrite the recording, and the modes of the files it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli/CsvRows.h"
#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

// The lowest and highest magnitude over the bands with a value between 100 Hz and
// a tenth below the top of the axis.
std::pair<double, double> magnitudeRange(const std::string& csv) {
  const auto rows = clitest::parseCsv(csv);
  double low = 1e9, high = -1e9;
  for (const auto& r : rows) {
    if (!r.magnitude || r.frequency < 100 || r.frequency > 0.9 * rows.back().frequency) continue;
    low = std::min(low, *r.magnitude);
    high = std::max(high, *r.magnitude);
  }
  return {low, high};
}

// 8 kHz and 192 kHz are analysed like any rate. At 192 kHz a 125 ms capture period holds
// 24000 frames, more than a block may carry (15360): the program delivers it as two
// blocks, which the consumers' block contract is checked against.
TEST(AnalyzeRates, TheEdgesOfTheRangeAreAnalysed) {
  TempDir dir;
  for (int rate : {8000, 192000}) {
    const std::string name = "r" + std::to_string(rate) + ".wav";
    writeKnownSystem(dir.path(name), rate, 3.0, 0.5f);
    const auto run = runAnalyze(dir, {"file", name, "--smoothing", "12", "--out", "out.csv"});
    ASSERT_EQ(run.status, 0) << rate << ": " << run.err;
    EXPECT_EQ(run.err, "") << rate;
    const auto [low, high] = magnitudeRange(readFile(dir.path("out.csv")));
    EXPECT_NEAR(low, -6.02, 0.01) << rate;
    EXPECT_NEAR(high, -6.02, 0.01) << rate;
  }
}

// However the output names the recording (the same name, another spelling, a symbolic
// or a hard link), the recording is left as it was and nothing is analysed.
TEST(AnalyzeOutputs, AnOutputNamingAnInputIsRefusedAndTheInputKept) {
  TempDir dir;
  writeKnownSystem(dir.path("take.wav"), 48000, 0.5, 0.5f);
  writeKnownSystem(dir.path("mono-m.wav"), 48000, 0.5, 0.5f);
  const std::string original = readFile(dir.path("take.wav"));
  std::filesystem::create_directory(dir.path("sub"));
  std::filesystem::create_symlink(dir.path("take.wav"), dir.path("link.wav"));
  std::filesystem::create_hard_link(dir.path("take.wav"), dir.path("hard.wav"));
  const std::vector<std::vector<std::string>> cases = {
      {"file", "take.wav", "--out", "take.wav"},
      {"file", "take.wav", "--json", "./take.wav"},
      {"file", "take.wav", "--svg", "sub/../take.wav"},
      {"file", "take.wav", "--out", "link.wav"},
      {"file", "take.wav", "--out", "hard.wav"},
      {"file", "take.wav", "--out", dir.path("take.wav")},
      {"file", "--meas-file", "take.wav", "--ref-file", "mono-m.wav", "--json", "mono-m.wav"},
      {"file", "take.wav", "--out", "a.csv", "--json", "./a.csv"},
  };
  for (const auto& args : cases) {
    const auto run = runAnalyze(dir, args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(run.status, 2) << joined << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined << run.err;
    EXPECT_EQ(readFile(dir.path("take.wav")), original) << joined;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path("a.csv")));
}

// Outputs are ordinary files of the user: their mode follows the umask.
TEST(AnalyzeOutputs, OutputsHonourTheUmask) {
  TempDir dir;
  writeKnownSystem(dir.path("take.wav"), 48000, 0.5, 0.5f);
  for (const auto& [mask, mode] :
       {std::pair{"022", 0644}, std::pair{"077", 0600}, std::pair{"002", 0664}}) {
    const auto run = runAnalyze(
        dir, {"file", "take.wav", "--out", "o.csv", "--json", "o.json", "--svg", "o.svg"},
        std::string("umask ") + mask + ";");
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"o.csv", "o.json", "o.svg"}) {
      struct stat st {};
      ASSERT_EQ(::stat(dir.path(name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(mode)) << name << " umask " << mask;
      std::filesystem::remove(dir.path(name));
    }
  }
}

}  // namespace
}  // namespace qv::cli
