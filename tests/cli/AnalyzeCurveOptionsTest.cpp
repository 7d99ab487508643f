// quorvex-analyze file with a microphone calibration and a target curve: a known system
// (the reference at −6.02 dB, 100 samples late) read through a microphone whose file says
// it reads 3 dB high around 8 kHz; the JSON names the calibration and states per band how
// far the curve lies outside the target's tolerance band; a stored trace keeps the
// calibration's name; a damaged file stops the run before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "cli/CsvRows.h"
#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

constexpr int kRate = 48000;
constexpr int kDelaySamples = 100;

class AnalyzeCurveOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    writeKnownSystem(dir.path("system.wav"), kRate, 4.0, 0.5f, kDelaySamples, 11);
    write("mic.txt", "Sens Factor =-1.2dB\n20 0\n5000 0\n6000 3\n10000 3\n12000 0\n20000 0\n");
    // Flat at −6 dB within ±1 dB from 100 Hz to 10 kHz, but ±0.5 dB below 1 kHz.
    write("target.txt", "# house curve\n100 -6 0.5\n1000 -6 0.5\n1000.01 -6\n10000 -6\n");
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir.path(name)) << text;
  }
  ProgramRun analyze(const std::vector<std::string>& args) {
    return runAnalyze(dir, args, "QUORVEX_DATA_DIR=" + quoted(dir.path("data")));
  }
  // The number after "key": in a JSON text; NaN, which equals nothing, when absent.
  static double number(const std::string& json, const std::string& key) {
    return clitest::jsonNumber(json, key).value_or(NAN);
  }

  TempDir dir;
};

TEST_F(AnalyzeCurveOptions, TheCalibrationCorrectsTheCurvesAndTheJsonHoldsThemAgainstTheTarget) {
  const auto run = analyze({"file", "system.wav", "--delay", "2.0833", "--smoothing", "12",
                            "--mic-cal", "mic.txt", "--target", "target.txt", "--tolerance", "1",
                            "--out", "tf.csv", "--json", "tf.json", "--save-trace", "Calibrated"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = clitest::parseCsv(readFile(dir.path("tf.csv")));
  auto near = [&](double hz) {
    size_t best = 0;
    for (size_t i = 0; i < rows.size(); ++i)
      if (std::fabs(rows[i].frequency - hz) < std::fabs(rows[best].frequency - hz)) best = i;
    return rows[best];
  };
  // −6.02 dB as measured, 3 dB lower where the microphone reads high.
  EXPECT_NEAR(*near(1000).magnitude, -6.02, 0.05);
  EXPECT_NEAR(*near(8000).magnitude, -9.02, 0.05);

  const std::string json = readFile(dir.path("tf.json"));
  EXPECT_NE(json.find("\"mic_calibration\": \"mic.txt\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"file\": \"target.txt\""), std::string::npos);
  // The bands from 6 to 10 kHz lie 2 dB below the lower edge (−7 dB); everything else
  // from 100 Hz up lies inside, and bands outside the target's span are not compared.
  EXPECT_NEAR(number(json, "largest_below_db"), 2.02, 0.06);
  EXPECT_EQ(number(json, "largest_above_db"), 0.0);
  const double compared = number(json, "bands_compared");
  const double outside = number(json, "bands_outside");
  EXPECT_NEAR(compared, 96 * std::log2(10000.0 / 100.0) / std::log2(std::pow(10.0, 0.3)), 2);
  EXPECT_GT(outside, 55);  // 6 to 10 kHz, about 71 bands, less the slopes' inner parts
  EXPECT_LT(outside, 90);
  // Per band, in the rows' order: null below 100 Hz, about −2 dB at 8 kHz.
  // Cut out by hand: a regular expression recurses once per character of a long list.
  const size_t open = json.find("\"outside_db\": [");
  ASSERT_NE(open, std::string::npos);
  const size_t first = json.find('[', open) + 1;
  const size_t close = json.find(']', first);
  ASSERT_NE(close, std::string::npos);
  std::vector<std::string> perBand;
  std::stringstream list(json.substr(first, close - first));
  for (std::string item; std::getline(list, item, ',');) perBand.push_back(item);
  ASSERT_EQ(perBand.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].frequency < 99) {
      ASSERT_EQ(perBand[i], i ? " null" : "null") << rows[i].frequency;
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (std::fabs(rows[i].frequency - 8000) < 30) {
      EXPECT_NEAR(std::stod(perBand[i]), -2.02, 0.06);
    }
  }

  const auto exported = analyze({"traces", "export", "Calibrated", "--format", "json"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("\"mic_calibration\": \"mic.txt\""), std::string::npos);
}

TEST_F(AnalyzeCurveOptions, ADamagedCurveFileStopsTheRunBeforeAnythingIsWritten) {
  write("broken.txt", "20 0\n1000 1\n2000 x\n");
  for (const std::string option : {"--mic-cal", "--target"}) {
    const auto run = analyze({"file", "system.wav", option, "broken.txt", "--out", "tf.csv"});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_EQ(run.err, "quorvex-analyze: broken.txt: Line 3: \"x\" is not a number.\n") << option;
    EXPECT_FALSE(std::filesystem::exists(dir.path("tf.csv")));
  }
  const auto missing = analyze({"file", "system.wav", "--mic-cal", "nowhere.txt"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("Cannot read nowhere.txt"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace qv::cli
