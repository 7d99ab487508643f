// quorvex-analyze's spectrum outputs on files the test makes: --rta reads each input's
// tones in their bands at the resolution and through the weighting asked for, and
// --group-delay gives the system's group delay, whatever delay is compensated.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "cli/TestFiles.h"

namespace qv::cli {
namespace {

constexpr int kRate = 48000;

// Rows of a CSV with a header, empty fields as NaN.
std::vector<std::vector<double>> rowsOf(const std::string& csv, const std::string& header) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, header);
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream fields(line + ",");
    std::string field;
    while (std::getline(fields, field, ','))
      row.push_back(field.empty() ? std::nan("") : std::stod(field));
    rows.push_back(row);
  }
  return rows;
}

// The row whose first column lies nearest to `hz` on a log scale.
const std::vector<double>& nearest(const std::vector<std::vector<double>>& rows, double hz) {
  size_t best = 0;
  for (size_t i = 1; i < rows.size(); ++i)
    if (std::fabs(std::log(rows[i][0] / hz)) < std::fabs(std::log(rows[best][0] / hz))) best = i;
  return rows[best];
}

TEST(AnalyzeSpectrum, SpectrumReadsEachInputInItsBandsAndThroughTheWeighting) {
  // 1 kHz at -20 dBFS on the measurement (channel 0), 100 Hz at -20 dBFS on the reference.
  TempDir dir;
  const size_t n = 4 * kRate;
  std::vector<float> frames(2 * n);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    frames[2 * i] = static_cast<float>(0.1 * std::sin(2 * M_PI * 1000.0 * t));
    frames[2 * i + 1] = static_cast<float>(0.1 * std::sin(2 * M_PI * 100.0 * t + 1.0));
  }
  writeSoundFile(dir.path("tones.wav"), kRate, 2, frames);
  const std::string header = "frequency_hz,measurement_dbfs,reference_dbfs";

  // The resolution asked for (about 20 Hz to 20 kHz, six bands an octave) and each input
  // in its column; the analyser's figures at every resolution are checked where it is.
  auto run = runAnalyze(
      dir, {"file", "tones.wav", "--rta", "rta.csv", "--octave", "6", "--out", "/dev/null"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto rows = rowsOf(readFile(dir.path("rta.csv")), header);
  EXPECT_NEAR(static_cast<double>(rows.size()), 60.0, 2.0);
  EXPECT_NEAR(nearest(rows, 1000.0)[1], -20.0, 0.1);
  EXPECT_LT(nearest(rows, 100.0)[1], -60.0);
  EXPECT_NEAR(nearest(rows, 100.0)[2], -20.0, 0.1);

  // The A weighting is 0 dB at 1 kHz and -19.1 dB at 100 Hz (the analogue network reads
  // -19.15 dB there).
  run = runAnalyze(dir,
                   {"file", "tones.wav", "--rta", "-", "--weighting", "a", "--out", "/dev/null"});
  ASSERT_EQ(run.status, 0) << run.err;
  rows = rowsOf(run.out, header);
  EXPECT_NEAR(nearest(rows, 1000.0)[1], -20.0, 0.1);
  EXPECT_NEAR(nearest(rows, 100.0)[2], -39.15, 0.1);
}

// The analyser's figures (filters, blanking) are checked where it is; here the column and
// the compensated delay, which the command line adds back so that the column shows the
// system's own delay: 100 samples, 2.083 ms.
TEST(AnalyzeSpectrum, GroupDelayColumnIncludesTheCompensatedDelay) {
  constexpr int kDelay = 100;
  TempDir dir;
  writeKnownSystem(dir.path("delayed.wav"), kRate, 12.0, 1.0f, kDelay, 11);

  const double delayMs = 1000.0 * kDelay / kRate;
  const auto run = runAnalyze(dir, {"file", "delayed.wav", "--group-delay", "--delay",
                                    std::to_string(delayMs), "--averaging", "10"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = rowsOf(run.out, "frequency_hz,magnitude_db,phase_deg,coherence,group_delay_ms");
  int read = 0;
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 5u);
    if (r[0] < 100 || r[0] > 16000) continue;
    ASSERT_NEAR(r[4], delayMs, 0.05) << r[0] << " Hz";
    ++read;
  }
  EXPECT_GT(read, 700);
}

}  // namespace
}  // namespace qv::cli
