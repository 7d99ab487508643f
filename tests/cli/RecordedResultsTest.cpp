// Fixed recordings analysed with fixed options must give the outputs recorded in
// tests/cli/recorded/, whatever is done to make the engine faster: per band the same
// magnitude within 0.001 dB, phase within 0.01°, the same blanked bands, and the same
// delay to the sample and the same number of frames.
//
// The recordings are made here, deterministically: a reference of white noise from a
// counter-based generator, and a measurement that hears it through a resonance, a low-pass,
// a delay and one reflection, with uncorrelated noise on top, so that the coherence falls
// at the top of the band and in the reflection's notches and some bands are blanked. Only
// additions and multiplications of doubles with literal coefficients are used, so the
// samples are the same on every machine.
//
// To record the expected outputs again (only after a deliberate change of the results):
// QUORVEX_KEEP_RECORDINGS=<dir> keeps the generated WAV files there; run the program on
// them with the options below and copy the CSV and JSON outputs to tests/cli/recorded/.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CsvRows.h"
#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

struct Recording {
  const char* name;
  int rate;
  int seconds;
  int delaySamples;
  int reflectionSamples;
};

// splitmix64: the same sequence everywhere, unlike the standard distributions.
class Noise {
 public:
  explicit Noise(uint64_t seed) : state_(seed) {}
  double next() {  // uniform in [−1, 1)
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

 private:
  uint64_t state_;
};

std::vector<float> makeRecording(const Recording& r) {
  const size_t n = static_cast<size_t>(r.rate) * static_cast<size_t>(r.seconds);
  Noise refNoise(1), micNoise(2);
  std::vector<double> ref(n);
  for (auto& v : ref) v = 0.3 * refNoise.next();

  // A resonance (a two-pole filter with poles at radius 0.995) and a two-stage one-pole
  // low-pass, both with fixed coefficients, so their corner frequencies follow the rate.
  std::vector<double> loudspeaker(n);
  double y1 = 0, y2 = 0, l1 = 0, l2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double resonance = 0.05 * ref[i] + 1.9850 * y1 - 0.990025 * y2;
    y2 = y1;
    y1 = resonance;
    const double direct = ref[i] + 0.4 * resonance;
    l1 += 0.35 * (direct - l1);
    l2 += 0.35 * (l1 - l2);
    loudspeaker[i] = l2;
  }

  std::vector<float> frames(2 * n);
  for (size_t i = 0; i < n; ++i) {
    double mic = 0.02 * micNoise.next();
    if (i >= static_cast<size_t>(r.delaySamples)) mic += 0.5 * loudspeaker[i - r.delaySamples];
    if (i >= static_cast<size_t>(r.reflectionSamples))
      mic += 0.3 * loudspeaker[i - r.reflectionSamples];
    frames[2 * i] = static_cast<float>(mic);
    frames[2 * i + 1] = static_cast<float>(ref[i]);
  }
  return frames;
}

using Band = clitest::CsvRow;
using clitest::parseCsv;

using clitest::jsonNumber;

struct Case {
  const char* label;
  Recording recording;
  std::vector<std::string> options;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class RecordedResults : public ::testing::TestWithParam<Case> {};

TEST_P(RecordedResults, MatchTheRecordedOutputs) {
  const Case& c = GetParam();
  TempDir dir;
  const std::string wav = std::string(c.recording.name) + ".wav";
  writeSoundFile(dir.path(wav), c.recording.rate, 2, makeRecording(c.recording));
  if (const char* keep = std::getenv("QUORVEX_KEEP_RECORDINGS"); keep && *keep)
    std::filesystem::copy_file(dir.path(wav), std::string(keep) + "/" + wav,
                               std::filesystem::copy_options::overwrite_existing);

  std::vector<std::string> args = {"file", wav};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {"--out", "out.csv", "--json", "out.json"});
  const auto run = runAnalyze(dir, args);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string expectedDir = std::string(QV_RECORDED_DIR) + "/" + c.label;
  const auto expected = parseCsv(readFile(expectedDir + ".csv"));
  const auto actual = parseCsv(readFile(dir.path("out.csv")));
  ASSERT_GT(expected.size(), 1000u) << expectedDir;
  ASSERT_EQ(actual.size(), expected.size());
  int blanked = 0;
  for (size_t b = 0; b < expected.size(); ++b) {
    const Band& e = expected[b];
    const Band& a = actual[b];
    EXPECT_EQ(a.frequency, e.frequency) << b;
    // Blanked (or non-finite) values are empty fields: they must stay so, and stay alone.
    ASSERT_EQ(a.magnitude.has_value(), e.magnitude.has_value()) << "band " << b;
    ASSERT_EQ(a.phase.has_value(), e.phase.has_value()) << "band " << b;
    ASSERT_EQ(a.coherence.has_value(), e.coherence.has_value()) << "band " << b;
    if (e.magnitude) {
      EXPECT_NEAR(*a.magnitude, *e.magnitude, 0.001) << "band " << b;
    }
    if (e.phase) {
      // ±180° are the same angle.
      EXPECT_NEAR(std::remainder(*a.phase - *e.phase, 360.0), 0.0, 0.01) << "band " << b;
    }
    if (e.coherence) {
      EXPECT_NEAR(*a.coherence, *e.coherence, 2e-5) << "band " << b;
    }
    if (!e.coherence) ++blanked;
  }

  const std::string expectedJson = readFile(expectedDir + ".json");
  const std::string actualJson = readFile(dir.path("out.json"));
  const double rate = c.recording.rate;
  const auto expectedDelay = jsonNumber(expectedJson, "delay_found_ms");
  const auto actualDelay = jsonNumber(actualJson, "delay_found_ms");
  ASSERT_TRUE(expectedDelay.has_value()) << expectedJson;
  ASSERT_TRUE(actualDelay.has_value()) << actualJson;
  EXPECT_EQ(std::lround(*actualDelay * rate / 1000.0), std::lround(*expectedDelay * rate / 1000.0));
  // The set delay is the mean of the readings that confirmed it: the same to far below a
  // sample, though not to the last bit on every processor.
  const auto expectedSet = jsonNumber(expectedJson, "delay_set_ms");
  const auto actualSet = jsonNumber(actualJson, "delay_set_ms");
  ASSERT_EQ(actualSet.has_value(), expectedSet.has_value()) << actualJson;
  if (expectedSet) {
    EXPECT_NEAR(*actualSet, *expectedSet, 1e-6) << actualJson;
  }
  EXPECT_EQ(jsonNumber(actualJson, "frames_analysed"), jsonNumber(expectedJson, "frames_analysed"));
  EXPECT_EQ(jsonNumber(actualJson, "bands"), jsonNumber(expectedJson, "bands"));
  EXPECT_NEAR(*jsonNumber(actualJson, "mean_coherence"),
              *jsonNumber(expectedJson, "mean_coherence"), 1e-4);
  // The recordings are made so that the blanking is exercised, not everywhere.
  EXPECT_GT(blanked, 0);
  EXPECT_LT(blanked, static_cast<int>(expected.size()) / 2);
}

const Recording kRoom48k{"room48k", 48000, 10, 240, 528};
const Recording kRoom44k{"room44k", 44100, 8, 97, 317};

INSTANTIATE_TEST_SUITE_P(
    FixedRecordings, RecordedResults,
    ::testing::Values(
        // The live program's defaults with the delay found and inserted along the way.
        Case{"room48k_auto", kRoom48k, {"--auto-delay"}},
        // The widest and the narrowest smoothing, heavy averaging, a delay set by hand. At
        // 1/1 octave every band is coherent beyond the default threshold; a higher one blanks
        // the reflection's notches.
        Case{"room48k_s1",
             kRoom48k,
             {"--auto-delay", "--smoothing", "1", "--averaging", "20", "--coherence-threshold",
              "0.3"}},
        Case{"room44k_s96",
             kRoom44k,
             {"--smoothing", "96", "--averaging", "1000", "--delay", "-1.5"}},
        // The heaviest averaging keeps the frames from before the delay was inserted, so
        // the display tick at which a finder result takes effect shows in the curves.
        Case{"room44k_s12", kRoom44k, {"--auto-delay", "--smoothing", "12", "--averaging", "1"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qv::cli
