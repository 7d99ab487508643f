// quorvex-analyze on files the test makes: a known filter with a known delay must come
// out as its response, the delay finder must find the delay to the sample, and every
// kind of bad input must end with one line and status 2, leaving no output behind.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/CsvRows.h"
#include "cli/TestFiles.h"
#include "traces/TraceManager.h"

namespace qv::cli {
namespace {

constexpr int kRate = 48000;
constexpr int kDelaySamples = 100;  // 2.0833 ms
constexpr double kGain = 0.5;       // −6.02 dB

// A peaking equaliser, +6 dB at 1 kHz with Q = 1 (the usual cookbook form).
struct Peaking {
  double b0, b1, b2, a1, a2;
  Peaking() {
    const double A = std::pow(10.0, 6.0 / 40.0), w0 = 2 * M_PI * 1000.0 / kRate;
    const double alpha = std::sin(w0) / 2.0;
    const double a0 = 1 + alpha / A;
    b0 = (1 + alpha * A) / a0;
    b1 = -2 * std::cos(w0) / a0;
    b2 = (1 - alpha * A) / a0;
    a1 = -2 * std::cos(w0) / a0;
    a2 = (1 - alpha / A) / a0;
  }
  std::complex<double> response(double f) const {
    const std::complex<double> z1 = std::polar(1.0, -2 * M_PI * f / kRate);
    return (b0 + b1 * z1 + b2 * z1 * z1) / (1.0 + a1 * z1 + a2 * z1 * z1);
  }
};

// Channel 0: the measurement, i.e. the reference through gain, filter and delay.
// Channel 1: the reference, white noise.
void writeMeasurement(const std::string& path, double seconds) {
  const Peaking eq;
  std::mt19937 gen(7);
  std::normal_distribution<double> noise(0.0, 0.1);
  const size_t n = static_cast<size_t>(seconds * kRate);
  std::vector<double> ref(n);
  for (auto& v : ref) v = noise(gen);
  std::vector<float> frames(2 * n);
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  std::vector<double> filtered(n);
  for (size_t i = 0; i < n; ++i) {
    const double y = eq.b0 * ref[i] + eq.b1 * x1 + eq.b2 * x2 - eq.a1 * y1 - eq.a2 * y2;
    x2 = x1, x1 = ref[i], y2 = y1, y1 = y;
    filtered[i] = y;
  }
  for (size_t i = 0; i < n; ++i) {
    frames[2 * i] =
        static_cast<float>(i >= kDelaySamples ? kGain * filtered[i - kDelaySamples] : 0.0);
    frames[2 * i + 1] = static_cast<float>(ref[i]);
  }
  writeSoundFile(path, kRate, 2, frames);
}

using Row = clitest::CsvRow;
using clitest::jsonNumber;
using clitest::parseCsv;

class AnalyzeFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    writeMeasurement(dir_->path("system.wav"), 12.0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempDir* dir_;
};
TempDir* AnalyzeFile::dir_ = nullptr;

TEST_F(AnalyzeFile, RecoversTheFilterAndFindsTheDelayToTheSample) {
  const auto run = runAnalyze(
      *dir_, {"file", "system.wav", "--meas", "0", "--ref", "1", "--auto-delay", "--smoothing",
              "96", "--out", "tf.csv", "--json", "tf.json", "--svg", "tf.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.empty());

  const std::string json = readFile(dir_->path("tf.json"));
  const auto foundMs = jsonNumber(json, "delay_found_ms");
  ASSERT_TRUE(foundMs) << json;
  EXPECT_EQ(std::lround(*foundMs * kRate / 1000.0), kDelaySamples) << json;
  EXPECT_NE(json.find("\"sample_rate_hz\": 48000"), std::string::npos);

  const Peaking eq;
  const auto rows = parseCsv(readFile(dir_->path("tf.csv")));
  ASSERT_EQ(rows.size(), 1112u);  // the band count at 48 kHz
  int compared = 0;
  for (const Row& r : rows) {
    if (r.frequency < 50 || r.frequency > 15000 || !r.coherence || *r.coherence <= 0.9 ||
        !r.magnitude || !r.phase)
      continue;
    const auto h = kGain * eq.response(r.frequency);
    EXPECT_NEAR(*r.magnitude, 20 * std::log10(std::abs(h)), 0.5) << r.frequency << " Hz";
    // Once the delay is taken out, what is left is the filter's own phase.
    double diff = *r.phase - std::arg(h) * 180 / M_PI;
    diff = std::remainder(diff, 360.0);
    EXPECT_NEAR(diff, 0.0, 5.0) << r.frequency << " Hz";
    ++compared;
  }
  EXPECT_GT(compared, 700);  // about 790 bands lie between 50 Hz and 15 kHz

  const std::string svg = readFile(dir_->path("tf.svg"));
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find(">16K<"), std::string::npos);
  EXPECT_NE(svg.find("polyline"), std::string::npos);
}

// --meas and --ref choose which channel is the measurement: swapped, H is inverted. (What
// --delay, --smoothing and --averaging do to the curves, the recorded results hold.)
TEST_F(AnalyzeFile, MeasAndRefChooseTheChannels) {
  const Peaking eq;
  const auto run =
      runAnalyze(*dir_, {"file", "system.wav", "--smoothing", "96", "--meas", "1", "--ref", "0"});
  ASSERT_EQ(run.status, 0) << run.err;
  int compared = 0;
  for (const Row& r : parseCsv(run.out)) {
    if (r.frequency < 200 || r.frequency > 5000 || !r.magnitude) continue;
    ASSERT_NEAR(*r.magnitude, -20 * std::log10(std::abs(kGain * eq.response(r.frequency))), 0.5)
        << r.frequency;
    ++compared;
  }
  EXPECT_GT(compared, 400);  // about 446 bands lie between 200 Hz and 5 kHz
}

// What each kind of input fault reads as is held by the option and file reader tests;
// here one of each stage: refused on opening, found while reading, a bad option.
TEST_F(AnalyzeFile, BadInputEndsWithOneLineAndStatusTwoAndWritesNothing) {
  TempDir dir;
  std::vector<float> inf(2 * kRate, 0.1f);
  inf[2 * 1234] = INFINITY;
  writeSoundFile(dir.path("inf.wav"), kRate, 2, inf);

  const std::vector<std::vector<std::string>> cases = {
      {"file", "missing.wav"},
      {"file", "inf.wav"},
      {"file", "inf.wav", "--smoothing", "7"},
  };
  for (const auto& args : cases) {
    const auto run = runAnalyze(dir, [&] {
      auto a = args;
      a.insert(a.end(), {"--out", "out.csv", "--json", "out.json"});
      return a;
    }());
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(run.status, 2) << joined << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined << run.err;
    EXPECT_EQ(run.err.rfind("quorvex-analyze: ", 0), 0u) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.csv"))) << joined;
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.json"))) << joined;
  }
  // No temporary output files were left behind either.
  for (const auto& entry : std::filesystem::directory_iterator(dir.root()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// A measurement input that heard nothing gives blank curves: the outputs are written as
// measured (blank), and the run says that they hold no measurement.
TEST(AnalyzeFileBlank, AMeasurementThatHeardNothingWritesBlankCurvesAndSaysSo) {
  TempDir dir;
  std::vector<float> frames(2 * 3 * kRate, 0.0f);
  uint32_t state = 22;
  for (size_t i = 1; i < frames.size(); i += 2) {
    state = state * 1664525u + 1013904223u;
    frames[i] = 0.1f * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
  }
  writeSoundFile(dir.path("dead-mic.wav"), kRate, 2, frames);
  const auto run = runAnalyze(dir, {"file", "dead-mic.wav", "--out", "out.csv"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("quorvex-analyze: warning: every band is blank"), std::string::npos)
      << run.err;
  const auto rows = clitest::parseCsv(readFile(dir.path("out.csv")));
  ASSERT_FALSE(rows.empty());
  for (const auto& r : rows) EXPECT_FALSE(r.magnitude) << r.frequency;
}

// The trace lands in the store the program uses, with the curves of the CSV.
TEST(AnalyzeFileTrace, SaveTraceStoresTheFinalCurves) {
  TempDir dir;
  writeKnownSystem(dir.path("same.wav"), kRate, 4.0);
  const auto run =
      runAnalyze(dir, {"file", "same.wav", "--save-trace", "Main PA", "--out", "c.csv"},
                 "QUORVEX_DATA_DIR=" + quoted(dir.path("data")));
  ASSERT_EQ(run.status, 0) << run.err;
  TraceManager store(dir.path("data"));
  const auto shots = store.allTraceShots();
  ASSERT_EQ(shots.count(), 1u);
  EXPECT_EQ(shots[0].name, "Main PA");
  EXPECT_NE(shots[0].comment->find("Smoothing: 1/24 oct"), std::string::npos);
  // Identical channels: 0 dB where the CSV has a value.
  const auto rows = parseCsv(readFile(dir.path("c.csv")));
  const auto mag = TraceShot::floatsFromBlob(*shots[0].magnitudeData);
  ASSERT_EQ(mag.size(), rows.size());
  for (size_t b = 0; b < rows.size(); ++b)
    if (rows[b].magnitude) {
      EXPECT_NEAR(mag[b], *rows[b].magnitude, 1e-3);
    }
}

// The demo measures the virtual room in real time and leaves its three outputs behind.
TEST(AnalyzeLive, DemoWritesAllOutputsWithTheRoomsDelay) {
  TempDir dir;
  const auto run = runAnalyze(dir, {"demo"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"demo.csv", "demo.json", "demo.svg"})
    EXPECT_TRUE(std::filesystem::exists(dir.path(name))) << name;
  const std::string json = readFile(dir.path("demo.json"));
  // The room's direct sound is 132 samples behind; through the loudspeaker's low-pass it
  // arrives at 132.885 samples (3.0133 ms).
  const auto found = jsonNumber(json, "delay_found_ms");
  ASSERT_TRUE(found.has_value()) << json;
  EXPECT_NEAR(*found, 3.0133, 0.005) << json;
  EXPECT_NE(json.find("\"delay_state\": \"found\""), std::string::npos) << json;
  // What is in force is what was found, confirmed: not a rounded request.
  EXPECT_NEAR(jsonNumber(json, "delay_applied_ms").value_or(0.0), *found, 0.01) << json;
  EXPECT_EQ(parseCsv(readFile(dir.path("demo.csv"))).size(), 1100u);
}

TEST(AnalyzeLive, UnknownDevicesAndChannelsAreRefused) {
  TempDir dir;
  auto run = runAnalyze(dir, {"live", "--input", "Nowhere:Nothing", "--seconds", "1"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no capture device with UID 'Nowhere:Nothing'"), std::string::npos)
      << run.err;
  run = runAnalyze(dir, {"live", "--input", "Virtual:Virtual Sound System", "--meas", "0", "--ref",
                         "5", "--seconds", "1"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("out of range"), std::string::npos) << run.err;
  run = runAnalyze(dir, {"devices"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("capture  Virtual:Virtual Sound System"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace qv::cli
